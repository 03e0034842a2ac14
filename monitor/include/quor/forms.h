// The ids, captions and labels of the monitor's two forms: the setup dialog
// HSETUP and the fax-number dialog CALLNUM. The resource script reads them
// (plain macros, as the resource compiler takes them), and so do the POSIX
// hosts that show the forms themselves (quor/host.h).
#pragma once

/* The fields' widths in UTF-16 units with the terminator, and the characters
   each control takes: a setting or a note 127, attempts one digit, the fax
   number 40 (quor/fax_number.h says which; its field has room to spare). */
#define QUOR_TEXT_UNITS 128
#define QUOR_TEXT_LIMIT 127
#define QUOR_ATTEMPTS_UNITS 2
#define QUOR_ATTEMPTS_LIMIT 1
#define QUOR_FAX_NUMBER_UNITS 48
#define QUOR_FAX_NUMBER_LIMIT 40

/* HSETUP */
#define QUOR_SETUP_CAPTION "Telvor Printer Setup"
#define QUOR_SERVER_IP_TEXT "HylaFax Server IP (e.g. 192.168.1.10)"
#define QUOR_USER_TEXT "User"
#define QUOR_PASSWORD_TEXT "Password"
#define QUOR_MAIL_TEXT "E-mail"
#define QUOR_DEFAULT_ATTEMPTS_TEXT "Default attempts"
#define QUOR_ID_SERVER_IP 1000
#define QUOR_ID_USER 1002
#define QUOR_ID_PASSWORD 1003
#define QUOR_ID_MAIL 1004
#define QUOR_ID_DEFAULT_ATTEMPTS 1009
#define QUOR_MODEM_TEXT "Modem (empty: ttyS0)"
#define QUOR_ID_MODEM 1011
#define QUOR_OK_TEXT "OK"

/* CALLNUM */
#define QUOR_FAX_NUMBER_CAPTION "Telvor Printer"
#define QUOR_FAX_NUMBER_TEXT "Enter Phone Number"
#define QUOR_ATTEMPTS_TEXT "Attempts(1-9)"
#define QUOR_INFO_TEXT "More Info"
#define QUOR_ID_FAX_NUMBER 1000
#define QUOR_ID_ATTEMPTS 1002
#define QUOR_ID_INFO 1003
#define QUOR_SEND_FAX_TEXT "Send Fax"
