/* Resource ids shared by install.rc and the progress window's code. */
#pragma once

#define IDC_PROGRESS_BAR 1000
#define IDB_BANNER 102
