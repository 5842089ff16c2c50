#include "install_command.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "common/base64.h"
#include "common/whole_file.h"
#include "platform/environment.h"
#include "platform/file_ops.h"
#include "platform/host_process.h"
#include "platform/strings.h"
#include "programs/command_line.h"

namespace Zorvane_Native {
namespace {

using json = nlohmann::json;

std::string directory_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool make_directories(const std::string& path) {
    if (path.empty() || Core_Platform::path_kind(path) == Core_Platform::path_kind_enum::directory)
        return true;
    if (!make_directories(directory_of(path))) return false;
    return Core_Platform::directory_create(path) == 0 || errno == EEXIST;
}

const char* kUsage =
    "Usage: zorvane-native-host install [--browser chromium|firefox|all]\n"
    "                                   [--extension-dir DIR] [--manifest-dir DIR]\n"
    "\n"
    "Writes the native-messaging manifests that let the browsers start this\n"
    "program for the Zorvane extension:\n"
    "  chromium  ~/.config/chromium/NativeMessagingHosts/net.zorvane.host.json,\n"
    "            allowed for the extension id its manifest's key fixes\n"
    "  firefox   ~/.mozilla/native-messaging-hosts/net.zorvane.host.json,\n"
    "            allowed for the extension's Firefox id\n"
    "Options:\n"
    "  --browser B         chromium, firefox or all (default all)\n"
    "  --extension-dir DIR the unpacked extension (default ../zorvane-extension beside\n"
    "                      this program, which `make extension` builds)\n"
    "  --manifest-dir DIR  write the manifest into DIR instead (one browser only;\n"
    "                      for a browser started with its own profile directory)\n";

}  // namespace

std::string chromium_extension_id(const std::string& key_base64) {
    const std::string key = Core_Common::base64_decode(key_base64);
    if (key.empty()) return std::string();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(key.data(), key.size(), digest, &length, EVP_sha256(), nullptr) != 1 ||
        length < 16)
        return std::string();
    std::string id;
    for (int i = 0; i < 16; ++i) {
        id += static_cast<char>('a' + (digest[i] >> 4));
        id += static_cast<char>('a' + (digest[i] & 15));
    }
    return id;
}

int run_install(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Zorvane_Programs::option_set_t options{
        {"--browser", "--extension-dir", "--manifest-dir"}, {}, false, false};
    Zorvane_Programs::command_line_t line;
    Zorvane_Programs::command_line_error_t fault;
    if (!Zorvane_Programs::parse_command_line(args, options, line, fault)) {
        err << "zorvane-native-host: " << fault.text()
            << " (try 'zorvane-native-host install --help')\n";
        return 2;
    }
    if (line.help) {
        out << kUsage;
        return 0;
    }
    if (!line.operands.empty()) {
        err << "zorvane-native-host: unexpected argument \"" << line.operands[0]
            << "\" (try 'zorvane-native-host install --help')\n";
        return 2;
    }
    const std::string browser = line.has("--browser") ? line.value("--browser") : "all";
    std::string extension_dir = line.value("--extension-dir");
    const std::string manifest_dir = line.value("--manifest-dir");
    if (browser != "chromium" && browser != "firefox" && browser != "all") {
        err << "zorvane-native-host: --browser is chromium, firefox or all\n";
        return 2;
    }
    if (!manifest_dir.empty() && browser == "all") {
        err << "zorvane-native-host: --manifest-dir needs --browser chromium or firefox\n";
        return 2;
    }
    const std::string program = Core_Platform::host_executable_path();
    if (program.empty() || program[0] != '/') {
        err << "zorvane-native-host: cannot tell where this program is\n";
        return 1;
    }
    if (extension_dir.empty())
        extension_dir = directory_of(directory_of(program)) + "/zorvane-extension";
    std::string text;
    const std::string manifest_path = extension_dir + "/manifest.json";
    if (!Core_Common::read_whole_file(Core_Platform::utf8_to_wide(manifest_path), text)) {
        err << "zorvane-native-host: cannot read " << manifest_path
            << " (build the extension with `make extension`, or give --extension-dir)\n";
        return 1;
    }
    json manifest = json::parse(text, nullptr, false);
    std::string chromium_id;
    std::string firefox_id;
    if (manifest.is_object()) {
        if (manifest.contains("key") && manifest["key"].is_string())
            chromium_id = chromium_extension_id(manifest["key"].get<std::string>());
        try {
            firefox_id = manifest.at("browser_specific_settings").at("gecko").at("id");
        } catch (const json::exception&) {
        }
    }
    if (chromium_id.empty() || firefox_id.empty()) {
        err << "zorvane-native-host: " << manifest_path
            << " names no extension key or Firefox id\n";
        return 1;
    }
    const std::string home = Core_Platform::home_directory();
    std::string config;
    if (!Core_Platform::environment_value("XDG_CONFIG_HOME", config) || config.empty() ||
        config[0] != '/')
        config = home + "/.config";
    for (const std::string b : {"chromium", "firefox"}) {
        if (browser != "all" && browser != b) continue;
        json m = {{"name", kHostName},
                  {"description", "Zorvane bookmark sync"},
                  {"path", program},
                  {"type", "stdio"}};
        std::string dir = manifest_dir;
        if (b == "chromium") {
            m["allowed_origins"] = {"chrome-extension://" + chromium_id + "/"};
            if (dir.empty()) dir = config + "/chromium/NativeMessagingHosts";
        } else {
            m["allowed_extensions"] = {firefox_id};
            if (dir.empty()) dir = home + "/.mozilla/native-messaging-hosts";
        }
        const std::string path = dir + "/" + kHostName + ".json";
        if (!make_directories(dir) ||
            !Core_Common::write_whole_file(Core_Platform::utf8_to_wide(path), m.dump(2) + "\n")) {
            err << "zorvane-native-host: cannot write " << path << ": " << std::strerror(errno)
                << "\n";
            return 1;
        }
        out << b << "=" << path << "\n";
    }
    return 0;
}

}  // namespace Zorvane_Native
