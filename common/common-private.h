// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// common-private.h: the small helpers every module uses inside (lines, trimming, file
// descriptors, system calls and their errors, files never half-written), written once; never
// installed.
#pragma once

#include <cerrno>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gio/gio.h>
#include <unistd.h>

// Hands out the lines of a text one at a time without copying; each view points into the text.
// A text that ends in a newline ends in an empty line; an empty text has no line at all.
class Lines
{
public:
  explicit Lines (std::string_view text) : rest_ (text), more_ (!text.empty ()) {}

  bool next (std::string_view &out_line)
  {
    if (!more_)
      return false;
    const auto end = rest_.find ('\n');
    out_line = rest_.substr (0, end);
    more_ = end != std::string_view::npos;
    if (more_)
      rest_.remove_prefix (end + 1);
    number_++;
    return true;
  }

  // The number of the line handed out last, counted from 1.
  std::size_t number () const { return number_; }

  // What follows the line handed out last (empty after the last line).
  std::string_view rest () const { return more_ ? rest_ : std::string_view{}; }

private:
  std::string_view rest_;
  bool more_;
  std::size_t number_ = 0;
};

// Bytes removed from both ends of a value; unlike isspace() this leaves a vertical tab alone.
inline constexpr std::string_view kiv_trim_chars = " \t\n\f\r";

// text without the given bytes at either end. An empty result still points into text.
inline std::string_view kiv_trim (std::string_view text, std::string_view chars = kiv_trim_chars)
{
  const auto first = text.find_first_not_of (chars);
  if (first == std::string_view::npos)
    return text.substr (text.size ());
  return text.substr (first, text.find_last_not_of (chars) - first + 1);
}

// Runs call until it fails with something other than EINTR: a signal handler of the installer's
// must not turn a read, a write or a wait into a failure.
template <typename Call> auto retry_on_eintr (Call call)
{
  decltype (call ()) result;
  while ((result = call ()) < 0 && errno == EINTR)
    ;
  return result;
}

// Sets error to the G_IO_ERROR of saved_errno, with the message "WHAT: <strerror>", or the
// system's words alone without what. Returns FALSE, so that a failing function can end with it.
inline gboolean set_error_from_errno (GError **error, int saved_errno, std::string_view what = {})
{
  if (what.empty ())
    g_set_error_literal (error, G_IO_ERROR, g_io_error_from_errno (saved_errno),
                         g_strerror (saved_errno));
  else
    g_set_error (error, G_IO_ERROR, g_io_error_from_errno (saved_errno), "%.*s: %s",
                 int (what.size ()), what.data (), g_strerror (saved_errno));
  return FALSE;
}

// A file descriptor closed with its owner, on every path.
class UniqueFd
{
public:
  UniqueFd () = default;
  explicit UniqueFd (int fd) : fd_ (fd) {}
  UniqueFd (UniqueFd &&other) noexcept : fd_ (other.release ()) {}
  UniqueFd &operator= (UniqueFd &&other) noexcept
  {
    reset (other.release ());
    return *this;
  }
  UniqueFd (const UniqueFd &) = delete;
  UniqueFd &operator= (const UniqueFd &) = delete;
  ~UniqueFd () { reset (); }

  int get () const { return fd_; }
  explicit operator bool () const { return fd_ >= 0; }
  int release () { return std::exchange (fd_, -1); }
  void reset (int fd = -1)
  {
    if (fd_ >= 0)
      close (fd_);
    fd_ = fd;
  }

private:
  int fd_ = -1;
};

// Writes all of data to fd. Returns FALSE with error set, naming what, when a write fails.
inline gboolean write_all (int fd, std::string_view data, std::string_view what, GError **error)
{
  while (!data.empty ())
    {
      const ssize_t written
          = retry_on_eintr ([&] { return ::write (fd, data.data (), data.size ()); });
      if (written <= 0) // no room left, where a write takes nothing at all
        return set_error_from_errno (error, written < 0 ? errno : ENOSPC, what);
      data.remove_prefix (std::size_t (written));
    }
  return TRUE;
}

// Whether path still names the file open at fd (a symbolic link at path is not followed). A lock
// taken on a file guards a name only while this holds: another run may have removed the file, or
// put a new one in its place, between the open and the lock.
bool names_open_file (const char *path, int fd);

// A new file being written in the directory of its destination, private (0600) until it is
// committed. Until then the destination is untouched; dropping the object discards the file.
// Staging files are named ".NAME.kiv-part-XXXXXX" and locked by their writer, so that those a
// killed run left behind can be told from those still being written (staging.cpp).
class StagedFile
{
public:
  // Makes the staging file beside destination, after removing the staging files that killed
  // runs left in that directory. Returns nullptr with a G_IO_ERROR when it cannot be made.
  static std::unique_ptr<StagedFile> create (const char *destination, GError **error);

  ~StagedFile ();
  StagedFile (const StagedFile &) = delete;
  StagedFile &operator= (const StagedFile &) = delete;

  // The staging file, for reading what was written before it is committed.
  const char *path () const { return path_; }

  const char *destination () const { return destination_; }

  gboolean write (std::string_view data, GError **error);

  // Gives the file the permission bits of the file it replaces (or those of a new file) and
  // flushes it to the disk: what can fail before anything changes. On failure the file is
  // discarded.
  gboolean prepare (GError **error);

  // Prepares the file if that is not done yet, and renames it over the destination. On failure the
  // file is discarded and the destination left as it was.
  gboolean commit (GError **error);

private:
  StagedFile (char *path, char *destination, UniqueFd fd);
  void discard ();

  char *path_;
  char *destination_;
  UniqueFd fd_; // open and locked until the file is committed or discarded
  bool prepared_ = false;
};

// How run_program runs a program.
struct ProgramOptions
{
  int stdin_fd = -1;    // its standard input; -1: the null device
  std::vector<int> fds; // handed to it as its file descriptors 3, 4... (/dev/fd/3...)
  bool quiet = false;   // its standard error goes to the null device, not to ours
};

// Runs argv (argv[0] looked up in PATH, never through a shell) and collects what it writes to its
// standard output until it ends. *out_exit_status is its exit status, or -1 when it did not exit
// normally. FALSE with error set when it cannot be started, or once cancellable is cancelled: the
// program (and any it started) is then killed, never left running.
gboolean run_program (const char *const *argv, const ProgramOptions &options,
                      GCancellable *cancellable, std::string *out_output, int *out_exit_status,
                      GError **error);

// Opens path for reading if it is a regular file, without waiting on a FIFO or a device that
// never answers. An empty descriptor with error set when it cannot be opened or is no regular file.
UniqueFd open_regular_file (const char *path, GError **error);

// The whole of the regular file at path, read as open_regular_file opens it.
gboolean read_regular_file (const char *path, std::string *out_contents, GError **error);

// Carries the progress reports of work done on a worker thread for task to the main context of the
// task (g_task_get_context), where its callback runs too. Text messages arrive in the order they
// were made, each a copy. Reports of the bytes received coalesce: at most one waits on the
// context, and a newer total replaces it, "fetched" text and all, so that a fast download never
// piles reports up ahead of the window's own events. A message made after a byte report is
// delivered after it. The task is held until the last report is delivered, so that whatever the
// caller tied to it lives as long. Reports come from one thread at a time, never the caller's.
class ProgressRelay
{
public:
  // The types of the public ProgressFunc and KivByteProgressFunc, which the modules above this one
  // declare.
  using Callback = void (*) (const char *message, gpointer user_data);
  using ByteCallback = void (*) (goffset received, goffset total, gpointer user_data);

  // byte_progress_destroy, when given, is called with byte_progress_data once the relay has gone
  // and no report is left to deliver, on the task's context, as its callbacks are.
  ProgressRelay (GTask *task, Callback progress, gpointer user_data,
                 ByteCallback byte_progress = nullptr, gpointer byte_progress_data = nullptr,
                 GDestroyNotify byte_progress_destroy = nullptr);
  ~ProgressRelay ();
  ProgressRelay (const ProgressRelay &) = delete;
  ProgressRelay &operator= (const ProgressRelay &) = delete;

  // Whether anyone is told anything: without, a worker need not report.
  bool wanted () const { return progress_ != nullptr || byte_progress_ != nullptr; }

  // A text message, delivered as it is.
  void message (const char *text);
  // received bytes of total (-1: unknown), with their "fetched" text; coalesced.
  void bytes (const char *text, goffset received, goffset total);

  // The two as callbacks for a worker, with the relay as their data.
  static void relay_message (const char *text, gpointer self);
  static void relay_bytes (const char *text, goffset received, goffset total, gpointer self);

private:
  struct Report;
  static gboolean deliver (gpointer data);
  static void free_report (gpointer data);
  void post (Report *report);

  GTask *task_;
  Callback progress_;
  gpointer user_data_;
  ByteCallback byte_progress_;
  gpointer byte_progress_data_;
  GDestroyNotify byte_progress_destroy_;
  GMainContext *context_; // the task's, for byte_progress_destroy
  GMutex lock_;
  Report *waiting_bytes_ = nullptr; // posted and not yet delivered; replaced in place
  GMainContext *posting_context_ = nullptr;
};
