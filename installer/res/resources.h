/* Resource ids shared by install.rc and the progress window's code. */
#pragma once

#define INSTALL_ID_PROGRESS_BAR 1000
#define INSTALL_BANNER_BITMAP 102
