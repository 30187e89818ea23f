#pragma once

// Every limit the module keeps, each with its reason: memory and waiting are
// bounded whatever a file, a service or a network does.

#include <cstddef>
#include <cstdint>

namespace lumivane::base {

// Configuration file: a real one is a few hundred bytes; anything larger is
// not one and is never read whole into memory.
inline constexpr std::size_t kMaxConfigurationBytes = 1024 * 1024;

// The gateway's answer, the retrieval document and the quote service's
// answer: a quote of 100,000 lines is about 39 MB.
inline constexpr std::size_t kMaxDocumentBytes = 64u * 1024u * 1024u;

// One picture: a line's photograph is a few hundred KB; 50 MB leaves room
// for any real one and stops a runaway server.
inline constexpr std::size_t kMaxPictureBytes = 50u * 1024u * 1024u;

// All the pictures of one retrieval together: a quote of 2,000 pictured
// lines at 500 KB each is 1 GB; past 2 GiB a runaway server would fill the
// salesperson's disk, so the retrieval stops.
inline constexpr std::uint64_t kMaxRetrievalPictureBytes = 2ull * 1024u * 1024u * 1024u;

// Failed pictures shown one message box each; past them, one box says how
// many more failed, so that one cause (a server down) never means hundreds
// of boxes to click.
inline constexpr std::size_t kPictureFailureMessages = 5;

// A temporary file of the module's own naming older than this is no run's
// work in progress (a retrieval lasts minutes): a run that died left it, and
// the next retrieval removes it.
inline constexpr int kLeftoverAgeHours = 24;

// Longest picture file name, in bytes: within every file system the module
// runs on, with room for the folder in a path.
inline constexpr std::size_t kMaxPictureNameBytes = 150;

// Picture transfers at once, for the whole retrieval (and so to any one
// server): a quote's pictures come in one burst of small files from the
// maker's server, which browsers also reach with a handful of connections,
// and a quote of thousands of pictures never has more picture files open
// than this.
inline constexpr std::size_t kPictureTransfersAtOnce = 16;

// The gateway's request URL: servers refuse request lines past 8 to 64 KB.
inline constexpr std::size_t kMaxRequestUrlBytes = 64u * 1024u;

// Longest value shown inside a message, in characters, so that a message box
// stays readable.
inline constexpr std::size_t kMaxValueInMessage = 300;

// The module's own secrets (password, tokens, the quote service's key) are
// masked in every text that leaves it from this length on: a shorter one
// would hide ordinary words ("devis", "image") wherever they appear.
inline constexpr std::size_t kMinMaskedSecretBytes = 6;

// The support journal: past this size it is rotated, so that it never grows
// without end on a salesperson's disk.
inline constexpr std::size_t kMaxJournalBytes = 1024 * 1024;
// The journal's lock, held by another module: it appends a line or rotates
// the file in well under a millisecond, so the lock is tried again every few
// milliseconds for a moment; one held longer (a module stopped in a
// debugger, a program of the user's) is not waited for, so that the window
// never is.
inline constexpr int kJournalLockWaitMilliseconds = 50;
inline constexpr int kJournalLockRetryMilliseconds = 5;

// Standard error: lines waiting for a host that does not read them are kept
// up to this size (hundreds of messages), then dropped; at the module's end
// they get this long to reach a host that reads.
inline constexpr std::size_t kStandardErrorQueueBytes = 64 * 1024;
inline constexpr int kStandardErrorDrainMilliseconds = 2000;

// HTTP: a connection not made within this time is given up.
inline constexpr long kConnectTimeoutSeconds = 30;
// HTTP: a transfer that moves fewer bytes than seconds over this period is
// abandoned (a server that has stopped sending).
inline constexpr long kStallTimeoutSeconds = 60;
// HTTP: redirects followed at most for one request, as browsers bound them.
inline constexpr long kMaxRedirects = 10;
// HTTP: a transient failure (reset, time-out, 502/503/504) is tried once
// more, after this pause.
inline constexpr int kMaxAttempts = 2;
inline constexpr int kRetryPauseMilliseconds = 500;
// How often a transfer under way looks at its cancellation token, so that
// "Annuler" answers at once.
inline constexpr int kCancellationPollMilliseconds = 100;

// The browser's opener (xdg-open) ends within a second once the desktop has
// the address; past this wait it counts as started (it runs a browser).
inline constexpr int kBrowserOpenerWaitSeconds = 10;
// What is kept of a child process's output for the journal.
inline constexpr std::size_t kMaxChildOutputBytes = 4096;

}  // namespace lumivane::base
