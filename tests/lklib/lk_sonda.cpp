// lk_sonda: loads the connector library by name, as the program links it
// (LKlib.dll beside it or on the DLL path; LKlib.so beside it), and runs the
// calls named on its command line, one line of output per call:
//
//   connect SERVICE     LKConnect=<code>
//   query FILE SECONDS  LKQuery=null | LKQuery=<bytes> (the answer goes to FILE.risposta)
//   error               LKGetError=<code>
//   disconnect          LKDisconnect=<code>
//   send FILE SECONDS   the program's sequence: connect KVT, query, error, disconnect
//   config              LKConfig=done
//   fill NAME VALUE     (Windows) types VALUE into the field of NAME of the
//                       options dialog that the next `config` opens, then "Salva";
//                       a refusal prints fill=refused TEXT and leaves by "Annulla"
//
// The same probe is built for Linux and Windows, so that one test drives both.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include "common/win32.h"
#include "lklib/lk_settings.h"
#include "lklib/lk_settings_dialog_ids.h"
#else
#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#endif

#include "connector/lklib.h"

namespace {

struct Library {
    void(LK_CALL* config)();
    int(LK_CALL* connect)(const char*, const char*);
    const char*(LK_CALL* query)(const char*, int, int);
    int(LK_CALL* getError)();
    int(LK_CALL* disconnect)();
};

template <typename Function>
void bind(Function& function, void* address) {
    function = reinterpret_cast<Function>(address);
}

bool load(Library& lk) {
#if defined(_WIN32)
    HMODULE module = ::LoadLibraryW(L"LKlib.dll");
    if (!module) {
        return false;
    }
    const auto find = [module](const char* name) {
        return reinterpret_cast<void*>(::GetProcAddress(module, name));
    };
#else
    const auto beside = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "LKlib.so";
    void* module = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        return false;
    }
    const auto find = [module](const char* name) { return ::dlsym(module, name); };
#endif
    bind(lk.config, find("LKConfig"));
    bind(lk.connect, find("LKConnect"));
    bind(lk.query, find("LKQuery"));
    bind(lk.getError, find("LKGetError"));
    bind(lk.disconnect, find("LKDisconnect"));
    return lk.config && lk.connect && lk.query && lk.getError && lk.disconnect;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void query(Library& lk, const std::string& file, int seconds) {
    const std::string request = readFile(file);
    const char* answer = lk.query(request.c_str(), 255, seconds);
    if (!answer) {
        std::cout << "LKQuery=null\n";
        return;
    }
    const std::string copy = answer;
    std::ofstream(file + ".risposta", std::ios::binary) << copy;
    std::cout << "LKQuery=" << copy.size() << '\n';
}

#if defined(_WIN32)
// Waits for the options dialog, types the values into their fields and
// presses "Salva", as an operator would.
void fillDialog(std::vector<std::pair<std::string, std::string>> values) {
    HWND dialog = nullptr;
    for (int i = 0; i < 300 && !dialog; ++i) {
        dialog = ::FindWindowW(nullptr, kvt::lk::kSettingsDialogTitle);
        // Shown once its fields exist.
        if (dialog && !::IsWindowVisible(dialog)) {
            dialog = nullptr;
        }
        if (!dialog) {
            ::Sleep(50);
        }
    }
    if (!dialog) {
        std::cout << "fill=no-dialog\n";
        return;
    }
    const auto table = kvt::lk::settingTable();
    for (const auto& [name, value] : values) {
        const kvt::lk::SettingInfo* setting = kvt::lk::findSetting(name);
        const int id = kvt::lk::kSettingsDialogFirstField + int(setting - table.data());
        const std::wstring text(value.begin(), value.end());  // ASCII values only
        ::SendMessageW(::GetDlgItem(dialog, id), WM_SETTEXT, 0,
                       reinterpret_cast<LPARAM>(text.c_str()));
    }
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    // Either the dialog closes, or it refuses in a message box of its own
    // title: then its text is printed, the box closed and the dialog left.
    for (int i = 0; i < 300 && ::IsWindow(dialog); ++i) {
        HWND box = ::FindWindowW(L"#32770", kvt::lk::kSettingsDialogTitle);
        if (box && ::IsWindowVisible(box)) {
            wchar_t text[512] = {};
            ::GetDlgItemTextW(box, 0xFFFF, text, int(std::size(text)));  // its message
            std::cout << "fill=refused " << kvt::win32::narrow(text) << '\n';
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
            for (int j = 0; j < 300 && ::IsWindow(box); ++j) {
                ::Sleep(50);
            }
            ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        ::Sleep(50);
    }
}
#endif

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(true);
    Library lk{};
    if (!load(lk)) {
        std::cout << "load=failed\n";
        return 2;
    }
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::pair<std::string, std::string>> fills;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& step = args[i];
        const auto next = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : ""; };
        if (step == "connect") {
            const std::string service = next();
            std::cout << "LKConnect=" << lk.connect(service.c_str(), "") << '\n';
        } else if (step == "query") {
            const std::string file = next();
            query(lk, file, std::stoi(next()));
        } else if (step == "error") {
            std::cout << "LKGetError=" << lk.getError() << '\n';
        } else if (step == "disconnect") {
            std::cout << "LKDisconnect=" << lk.disconnect() << '\n';
        } else if (step == "send") {
            const std::string file = next();
            const int seconds = std::stoi(next());
            const int connected = lk.connect("KVT", "");
            std::cout << "LKConnect=" << connected << '\n';
            if (connected == 0) {
                query(lk, file, seconds);
                std::cout << "LKGetError=" << lk.getError() << '\n';
            }
            std::cout << "LKDisconnect=" << lk.disconnect() << '\n';
        } else if (step == "fill") {
            const std::string name = next();
            fills.emplace_back(name, next());
        } else if (step == "config") {
#if defined(_WIN32)
            std::thread filler;
            if (!fills.empty()) {
                filler = std::thread(fillDialog, fills);
            }
            lk.config();
            if (filler.joinable()) {
                filler.join();
            }
#else
            lk.config();
#endif
            fills.clear();
            std::cout << "LKConfig=done\n";
        } else {
            std::cout << "step=unknown " << step << '\n';
            return 2;
        }
        std::cout.flush();
    }
    return 0;
}
