// Prepared answers for the monitor's two forms on POSIX, where the setup
// dialog HSETUP and the fax-number dialog CALLNUM are terminal forms.
//
// A spooler host (or a test) answers a form in advance by setting its
// environment variable before the monitor shows it:
//   QUOR_ANSWER_HSETUP   answers the setup form
//   QUOR_ANSWER_CALLNUM  answers the fax-number form
// The value "cancel" cancels the form (as Escape or the close box would).
// Any other value is a list of lines "ID=text" separated by "\n", where ID is
// a control id of the form:
//   HSETUP:  1000 server address, 1002 user, 1003 password, 1004 e-mail,
//            1009 default attempts
//   CALLNUM: 1000 fax number, 1002 attempts, 1003 note
// and the form is then confirmed (OK / "Send Fax"). Each text goes through the
// same filters and limits as typed input: characters the control refuses are
// dropped (attempts and fax number take digits only) and texts are cut at the
// control's limit (attempts 1 digit, fax number 14, other texts 127
// characters). Controls not named keep their initial text (the attempts
// fields start with the current attempts setting, the others empty). Lines
// without "=" or with an unknown id are ignored. The form prints what it
// answered on standard error.
//
// Without a prepared answer the form asks on the terminal (/dev/tty), each
// field a line editor; with no terminal it fails, and Escape, or the
// terminal going away, cancels it.
//
// The form echoes each answer as a line "  LABEL: text" under its caption,
// with the captions and labels below; hosts that read the echo go by them.
// The ids, captions and labels are those of the dialogs: the resource script
// reads them from here too (plain macros, as the resource compiler takes them).
#pragma once

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

/* CALLNUM */
#define QUOR_FAX_NUMBER_CAPTION "Telvor Printer"
#define QUOR_FAX_NUMBER_TEXT "Enter Phone Number"
#define QUOR_ATTEMPTS_TEXT "Attempts(1-9)"
#define QUOR_INFO_TEXT "More Info"
#define QUOR_ID_FAX_NUMBER 1000
#define QUOR_ID_ATTEMPTS 1002
#define QUOR_ID_INFO 1003

#ifndef RC_INVOKED

namespace quor {

inline constexpr char kSetupAnswerVariable[] = "QUOR_ANSWER_HSETUP";
inline constexpr char kFaxNumberAnswerVariable[] = "QUOR_ANSWER_CALLNUM";
inline constexpr char kCancelAnswer[] = "cancel";

}  // namespace quor

#endif
