// zorvane-native-host: the program the browsers start for the Zorvane
// extension (native messaging), and its install command.
#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "install_command.h"
#include "native_host.h"
#include "native_messages.h"
#include "platform/host_process.h"
#include "platform/huge_pages.h"
#include "platform/standard_streams.h"

namespace {

const char* kHelp =
    "Usage: zorvane-native-host [ORIGIN...]\n"
    "       zorvane-native-host install [--browser chromium|firefox|all] [--extension-dir DIR]\n"
    "\n"
    "The browsers start this program for the Zorvane extension and talk to it\n"
    "over standard input and output (native messaging: a 32-bit length in the\n"
    "machine's byte order, then UTF-8 JSON). It loads the Zorvane component\n"
    "(../lib/libzorvane_component.so beside it) and keeps one engine for as long\n"
    "as the extension's port stays open; messages go to standard error only.\n"
    "The arguments the browsers add (the extension's origin) are ignored.\n"
    "`install` writes the browsers' manifests for it (install --help).\n"
    "\n"
    "Files: $XDG_DATA_HOME/zorvane/browser/PROFILE/USER@HOST:PORT/ (mode 0700)\n"
    "holds the record of the last sync, the note, the browser's identity table\n"
    "and, without a keyring, the password (mode 0600).\n";

}  // namespace

int main(int argc, char** argv) {
    Core_Platform::start_with_huge_pages(argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "install") {
        return Zorvane_Native::run_install(std::vector<std::string>(args.begin() + 1, args.end()),
                                           std::cout, std::cerr);
    }
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kHelp;
        return 0;
    }
    // Standard output carries frames only: the frames get a descriptor of
    // their own, and anything else written to standard output goes to
    // standard error.
    const int frames = Core_Platform::take_standard_output();
    if (frames < 0) {
        std::cerr << "zorvane-native-host: cannot set up standard output\n";
        return 1;
    }
    Core_Platform::ignore_broken_pipes();

    std::string exe = Core_Platform::host_executable_path();
    const auto slash = exe.rfind('/');
    const std::string component =
        (slash == std::string::npos ? std::string(".") : exe.substr(0, slash)) +
        "/../lib/libzorvane_component.so";
    bool output_open = true;
    Zorvane_Native::native_host host(
        [&](const std::string& json) {
            if (!output_open) return;
            if (json.size() > Zorvane_Native::kMaxOutgoing) {
                std::cerr << "zorvane-native-host: an answer of " << json.size()
                          << " bytes is over the browsers' limit; not sent\n";
                return;
            }
            output_open = Core_Platform::write_all(frames, Zorvane_Native::encode_frame(json));
        },
        std::cerr, component);

    Zorvane_Native::native_message_reader reader;
    std::vector<Zorvane_Native::frame_event_t> events;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const int ready = Core_Platform::wait_for_standard_input(host.busy() ? 5 : -1);
        if (ready < 0) break;
        if (ready > 0) {
            const ssize_t n = Core_Platform::read_standard_input(buffer.data(), buffer.size());
            if (n <= 0) break;
            events.clear();
            reader.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)), events);
            for (const auto& e : events) {
                if (e.kind == Zorvane_Native::frame_event_t::MESSAGE) {
                    host.handle(e.text);
                } else {
                    host.refuse(e.text);
                }
            }
        }
        host.pump();
    }
    if (reader.in_message()) std::cerr << "zorvane-native-host: the input ended inside a message\n";
    // The extension has gone; an action already sent is seen through, so
    // the record of the sync stays in step with the server.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (host.pump() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    host.finish();
    return 0;
}
