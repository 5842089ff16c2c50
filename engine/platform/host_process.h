// Public engine surface: facts about the host process the engine runs in —
// the path of its executable, the log-file path derived from it — and the
// host's way of showing a message to the person at the machine.
//
// All functions are thread-safe.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace Core_Platform {

// The full path of the host process's executable in its long, resolved
// form (here: the target of /proc/self/exe, or the override below), as the
// operating system's narrow bytes. Empty when it cannot be determined.
std::string host_executable_path();

// Makes host_executable_path() answer `path` instead of the real executable
// (an empty `path` restores the real one). For hosts that embed the engine
// and want its files next to another program, and for tests that need the
// log file in a directory of their own.
void override_host_executable_path(std::string path);

// The log-file path for an executable path (a pure function of its text):
// the extension of the final path component is replaced by ".log" (added
// when the name has none; a leading dot of a name does not start an
// extension), then the path is normalised.
//
// Normalisation depends on the form of the path:
//   - Windows form (a drive letter and ':' at the start, or a leading
//     backslash or slash pair): forward slashes become backslashes, a
//     leading "\\?\UNC\" becomes "\\" and a leading "\\?\" is removed. So
//     "C:\Program Files\Browser\browser.exe" gives
//     "C:\Program Files\Browser\browser.log".
//   - POSIX form (anything else, e.g. "/usr/lib/browser/browser"): the
//     separators are left alone, because '\' is an ordinary file-name
//     character here and converting '/' would move the file elsewhere. So
//     "/opt/browser/browser-bin" gives "/opt/browser/browser-bin.log" and
//     "/opt/browser/run.sh" gives "/opt/browser/run.log": the log file lands
//     beside the executable.
// An empty path gives an empty result.
std::string log_path_for_executable(std::string_view executable_path);

// Shows `text` to the person at the machine with an OK button and no
// caption, and returns when it has been acknowledged. On this platform there
// is no window system to rely on: the text is written as one UTF-8 line to
// the standard error stream, and then handed to the hook, if one is set.
void show_message_box(std::u16string_view text);

// Installs a hook that receives every text shown by show_message_box (after
// it has been written to standard error); an empty function removes it.
// The hook runs on the thread that called show_message_box.
using message_box_hook_t = std::function<void(std::u16string_view text)>;
void set_message_box_hook(message_box_hook_t hook);

}  // namespace Core_Platform
