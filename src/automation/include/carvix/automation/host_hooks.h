/* Host hooks: the place where the program that hosts the scripting classes installs the
 * pieces of user interface the component may need inside a method call.
 *
 * The component shows nothing itself. When it must ask the user something (which of
 * several certificates signs) or tell the user something (a warning), it asks the hook
 * that the host installed here, in the automation runtime that host and module share. A
 * host installs its hooks once, before it creates objects, and may replace or remove them
 * at any time; a module only calls them.
 *
 * Plain C types throughout, so hosts in C, C++ or behind a foreign-function bridge can use
 * it: texts are zero-terminated UTF-16 (char16_t), counts are 32-bit, the answer of a
 * question is an index written through a pointer. Every hook receives the context pointer
 * given with it at installation, unchanged. Hooks run on the thread of the method call that
 * needs them and may block until the user answers. The runtime holds no lock while a hook
 * runs, so a hook may install or remove hooks itself.
 *
 * Each hook has its own setter, so adding one changes nothing for hosts that do not install
 * it. What each hook receives and answers, and what happens without it, is described for
 * hosts in src/automation/README.md ("Host hooks"). */
#pragma once

#ifdef __cplusplus
#include <cstdint>
#else
#include <stdint.h>
#include <uchar.h>
#endif

#if defined(CARVIX_COM_BUILD)
#define CARVIX_HOOK_API __attribute__((visibility("default")))
#else
#define CARVIX_HOOK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One certificate on offer to the certificate chooser. The pointers stay valid for the
 * duration of the chooser call only. */
typedef struct CarvixCertificateOffer {
    const char16_t* subject;    /* "CN=..., O=...", one line */
    const char16_t* issuer;     /* the issuer, in the same form */
    const char16_t* notAfter;   /* end of validity, "YYYY-MM-DD HH:MM:SS" in UTC */
    const char16_t* thumbprint; /* SHA-1 of the DER bytes, upper-case hexadecimal */
    const uint8_t* der;         /* the certificate's DER bytes */
    uint32_t derLength;
    int32_t initiallySelected; /* non-zero: the module suggests this one */
} CarvixCertificateOffer;

/* Asked when several certificates qualify and the user must pick one (for example the
 * signer of a block write). `title` and `displayText` may be empty, never null. The hook
 * returns non-zero and writes an index below `count` to `*chosen` when the user picked a
 * certificate, or returns zero when the user cancelled (or the host cannot ask). An index
 * out of range counts as a cancel. */
typedef int32_t (*CarvixCertificateChooserFn)(void* context, const char16_t* title,
                                              const char16_t* displayText,
                                              const CarvixCertificateOffer* offers, uint32_t count,
                                              uint32_t* chosen);

/* Shows a notice: caption, text and the message-box style bits (0x30 is a warning with an
 * OK button). Returns nothing: a notice has no answer. */
typedef void (*CarvixNotifierFn)(void* context, const char16_t* caption, const char16_t* text,
                                 uint32_t style);

/* One reader on offer to the reader chooser: a reader holding a card that passed the
 * caller's check. The pointers stay valid for the duration of the chooser call only. */
typedef struct CarvixReaderOffer {
    const char16_t* reader; /* the reader's name, as the resource manager reports it */
    const uint8_t* atr;     /* the answer to reset of the card in it */
    uint32_t atrLength;
} CarvixReaderOffer;

/* Asked when a reader must be picked and not exactly one reader holds an acceptable card.
 * `title` says what is looked for (never null, may be empty).
 * - count >= 1: several readers qualify. Return non-zero and write an index below `count`
 *   to `*chosen` for the user's pick, or zero for a cancel. An index out of range counts
 *   as a cancel.
 * - count == 0 (`offers` and `chosen` are null): no reader holds an acceptable card yet.
 *   Return non-zero to go on waiting for a card to be inserted or a reader plugged in, zero
 *   to cancel. While waiting the component asks again about once a second, so a host whose
 *   user pressed cancel answers zero on the next call. */
typedef int32_t (*CarvixReaderChooserFn)(void* context, const char16_t* title,
                                         const CarvixReaderOffer* offers, uint32_t count,
                                         uint32_t* chosen);

/* Installs the reader chooser for the whole process; a null `fn` removes it. Without a
 * chooser a single acceptable reader is still taken, but several are never picked from
 * silently and nobody waits for a card: both go to the desktop dialog (below) or end as a
 * cancel. */
CARVIX_HOOK_API void CarvixSetReaderChooser(CarvixReaderChooserFn fn, void* context);

/* Installs the certificate chooser for the whole process; a null `fn` removes it. Without a
 * chooser every question goes to the desktop dialog (below) or ends as a cancel: the
 * component never picks one of several certificates silently. */
CARVIX_HOOK_API void CarvixSetCertificateChooser(CarvixCertificateChooserFn fn, void* context);

/* Installs the notifier for the whole process; a null `fn` removes it. Without a notifier a
 * notice is a message box of the desktop dialog (below), else written to standard error as
 * one line "caption: text". */
CARVIX_HOOK_API void CarvixSetNotifier(CarvixNotifierFn fn, void* context);

/* For modules: asks the installed chooser. Returns non-zero with `*chosen` below `count` when
 * the user picked one; zero for a cancel, for no chooser installed, for no offers and for a
 * null argument. */
CARVIX_HOOK_API int32_t CarvixChooseCertificate(const char16_t* title, const char16_t* displayText,
                                                const CarvixCertificateOffer* offers,
                                                uint32_t count, uint32_t* chosen);

/* For modules: asks the installed reader chooser. With `count` >= 1, returns non-zero with
 * `*chosen` below `count` for a pick; with `count` == 0, returns non-zero for "go on
 * waiting". Zero for a cancel, for no chooser installed and for a null `offers` or `chosen`
 * with offers. */
CARVIX_HOOK_API int32_t CarvixChooseReader(const char16_t* title, const CarvixReaderOffer* offers,
                                           uint32_t count, uint32_t* chosen);

/* For modules: shows the notice through the installed notifier, or on standard error when
 * none is installed. Null texts count as empty. */
CARVIX_HOOK_API void CarvixNotify(const char16_t* caption, const char16_t* text, uint32_t style);

/* Asked for the user PIN of a token before the module logs in to it (never for a token with
 * its own PIN pad). `tokenLabel` names the token. The hook writes the PIN as UTF-8 bytes,
 * at most `capacity` of them and no terminator, to `pin`, stores their count in `*length`
 * and returns non-zero; it returns zero when the user cancelled (or the host cannot ask). The
 * module wipes the buffer after the login and never logs or keeps the PIN; the hook should
 * keep no copy either. */
typedef int32_t (*CarvixPinPromptFn)(void* context, const char16_t* tokenLabel, char* pin,
                                     uint32_t capacity, uint32_t* length);

/* Installs the PIN prompt for the whole process; a null `fn` removes it. Without a prompt
 * every login that needs a PIN asks in the desktop dialog (below) or ends as a cancel. */
CARVIX_HOOK_API void CarvixSetPinPrompt(CarvixPinPromptFn fn, void* context);

/* The PIN prompt told the token's PIN state: `triesLeft` (negative: the token does not say)
 * and CARVIX_PIN_* bits (below), CARVIX_PIN_WAS_WRONG when the PIN given just before was
 * wrong and this is another try. Otherwise as CarvixPinPromptFn. With CARVIX_PIN_LOCKED the
 * hook is only told (to show it); its answer is not used. */
typedef int32_t (*CarvixPinStatePromptFn)(void* context, const char16_t* tokenLabel,
                                          int32_t triesLeft, uint32_t state, char* pin,
                                          uint32_t capacity, uint32_t* length);

/* Installs the PIN prompt that is told the PIN state, in place of a CarvixSetPinPrompt hook
 * (either call replaces the other's hook); a null `fn` removes it. */
CARVIX_HOOK_API void CarvixSetPinPromptWithState(CarvixPinStatePromptFn fn, void* context);

/* For modules: asks the installed PIN prompt. Returns non-zero with `*length` at most
 * `capacity` when a PIN was entered; zero for a cancel, for no prompt installed and for a
 * null argument. On zero `*length` is 0 and the buffer has been wiped. */
CARVIX_HOOK_API int32_t CarvixAskPin(const char16_t* tokenLabel, char* pin, uint32_t capacity,
                                     uint32_t* length);

/* How long, in milliseconds, a method waits for a card that another program holds (in a
 * transaction, or connected exclusively) before it fails with SCARD_E_SHARING_VIOLATION
 * (0x8010000B) and a message saying that the card is in use by another program. The default
 * is 5000; 0 means do not wait at all. Applies to the whole process. */
CARVIX_HOOK_API void CarvixSetCardWaitLimit(uint32_t milliseconds);

/* For modules: the card wait limit in milliseconds. */
CARVIX_HOOK_API uint32_t CarvixCardWaitLimit(void);

/* ---- The desktop dialogs and the fuller questions behind them ----
 *
 * Without a hook, a question goes to the desktop dialog program carvix-dialog when a
 * graphical session is present (WAYLAND_DISPLAY or DISPLAY set) and the program is installed
 * (or named by CARVIX_DIALOG_PROGRAM); otherwise it ends as described above. A host turns
 * the dialogs off with CarvixSetDesktopDialogs(0) or the environment variable
 * CARVIX_DIALOG=off. An installed hook always wins.
 *
 * The functions below let a module say more than the hooks receive: what card a reader
 * holds, a certificate's start of validity and key location, a token's PIN state, a PIN-pad
 * entry. A host hook receives what its own type describes; the desktop dialogs show all. */

/* Turns the desktop dialogs on (non-zero, the default) or off for the whole process. */
CARVIX_HOOK_API void CarvixSetDesktopDialogs(int32_t enabled);

/* What card a reader holds, as bits: a card of another kind, the VL application, the ZK
 * application, a contactless card. */
#define CARVIX_CARD_OTHER 0x1u
#define CARVIX_CARD_VL 0x2u
#define CARVIX_CARD_ZK 0x4u
#define CARVIX_CARD_CONTACTLESS 0x8u

/* Answers of CarvixOfferReaders. */
#define CARVIX_OFFER_CANCELLED 0
#define CARVIX_OFFER_PICKED 1
#define CARVIX_OFFER_WAITING 2 /* no answer: offer again after about a second */
#define CARVIX_OFFER_PENDING 3 /* a dialog is open: offer again soon, so that it stays current */
#define CARVIX_OFFER_NOBODY 4  /* no chooser installed and no desktop dialog: nobody was asked */

/* A reader selection that stays open while cards come and go. */
typedef struct CarvixReaderSelection CarvixReaderSelection;

/* For modules: starts a selection titled `title`; null when out of memory. */
CARVIX_HOOK_API CarvixReaderSelection* CarvixBeginReaderSelection(const char16_t* title);

/* For modules: offers the readers that qualify now (count may be 0; `cards`, when not null,
 * holds each reader's CARVIX_CARD_* bits) and waits at most `waitMs` for an answer.
 * With a host reader chooser installed it is asked as by CarvixChooseReader: with readers
 * it answers PICKED or CANCELLED, with none WAITING or CANCELLED. Through the desktop
 * dialog the same list is shown and kept current, and the answer is PICKED, CANCELLED or
 * PENDING. Without either, several readers or none end as NOBODY. */
CARVIX_HOOK_API int32_t CarvixOfferReaders(CarvixReaderSelection* selection,
                                           const CarvixReaderOffer* offers, const uint32_t* cards,
                                           uint32_t count, uint32_t waitMs, uint32_t* chosen);

/* For modules: ends the selection and closes its dialog. Null is ignored. */
CARVIX_HOOK_API void CarvixEndReaderSelection(CarvixReaderSelection* selection);

/* Where a certificate's private key is. */
#define CARVIX_KEY_UNKNOWN 0u
#define CARVIX_KEY_FILE 1u
#define CARVIX_KEY_TOKEN 2u

/* Facts about one offered certificate that the certificate chooser hook does not receive. */
typedef struct CarvixCertificateDetails {
    const char16_t* notBefore; /* start of validity, like notAfter; may be empty */
    uint32_t keyKind;          /* CARVIX_KEY_* */
    const char16_t* keyStore;  /* the token's label, or the key file's path; may be empty */
} CarvixCertificateDetails;

/* For modules: CarvixChooseCertificate with `details[i]` describing `offers[i]` (null
 * details: none known). */
CARVIX_HOOK_API int32_t CarvixChooseCertificateWithDetails(const char16_t* title,
                                                           const char16_t* displayText,
                                                           const CarvixCertificateOffer* offers,
                                                           const CarvixCertificateDetails* details,
                                                           uint32_t count, uint32_t* chosen);

/* A token's PIN state, as bits: few tries left, the final try, locked. */
#define CARVIX_PIN_COUNT_LOW 0x1u
#define CARVIX_PIN_FINAL_TRY 0x2u
#define CARVIX_PIN_LOCKED 0x4u
#define CARVIX_PIN_WAS_WRONG 0x8u /* the PIN given just before was wrong */

/* For modules: CarvixAskPin with what is known of the PIN: `triesLeft` (negative: unknown)
 * and CARVIX_PIN_* bits. A locked PIN is shown as such and never asked for (zero). */
CARVIX_HOOK_API int32_t CarvixAskPinWithState(const char16_t* tokenLabel, int32_t triesLeft,
                                              uint32_t state, char* pin, uint32_t capacity,
                                              uint32_t* length);

/* A notice shown while the user enters the PIN on the reader's PIN pad. */
typedef struct CarvixPinPadNotice CarvixPinPadNotice;

/* For modules: shows "enter the PIN on the reader" for the token until
 * CarvixEndPinPadNotice. Null when nothing is shown (a host PIN prompt is installed, there
 * is no desktop dialog). */
CARVIX_HOOK_API CarvixPinPadNotice* CarvixBeginPinPadNotice(const char16_t* tokenLabel);

/* For modules: closes the notice. Null is ignored. */
CARVIX_HOOK_API void CarvixEndPinPadNotice(CarvixPinPadNotice* notice);

#ifdef __cplusplus
}
#endif
