/* Dialog and bitmap resources of the monitor: names, control ids and texts,
   shared by the resource script and the code (a C header, as the resource
   compiler reads it). Code takes a text as u"" QUOR_..._TEXT. The ids, captions,
   labels and buttons of the fields a host shows are in quor/forms.h. */
#pragma once

#include "quor/forms.h"

#define QUOR_SETUP_DIALOG "HSETUP"
#define QUOR_FAX_NUMBER_DIALOG "CALLNUM"
#define QUOR_BANNER_BITMAP 105

#define QUOR_DIALOG_FONT "MS Sans Serif"

/* HSETUP */
#define QUOR_ID_USER_LABEL 1005
#define QUOR_ID_PASSWORD_LABEL 1006
#define QUOR_ID_MAIL_LABEL 1007
#define QUOR_ID_DEFAULT_ATTEMPTS_LABEL 1008
#define QUOR_ID_BANNER 1010
#define QUOR_ID_MODEM_LABEL 1012

/* CALLNUM */
#define QUOR_ID_ATTEMPTS_LABEL 1001
#define QUOR_ID_INFO_LABEL 1004
