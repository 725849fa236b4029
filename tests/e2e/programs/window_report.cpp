// window_report.exe: prints, as one JSON object on stdout, the windows a user could see on the current
// desktop, for the end-to-end tests (tests/e2e/harness.py parses it):
//
//   {"screen": [w, h], "foreground": HWND, "windows": [TOP, ...]}
//   TOP   = {"hwnd", "pid", "tid", "class", "title", "rect": [l, t, r, b] (screen), "client":
//            [l, t, r, b] (client area in screen coordinates), "visible", "enabled", "owner",
//            "style", "exstyle", "xid" (the X window Wine made for it, 0 if none),
//            "focus" (the focused window of its thread, 0 if none), "children": [CHILD, ...]}
//   CHILD = {"hwnd", "parent", "id", "class", "text", "style", "rect" (screen), "visible",
//            "enabled", "items": [text, ...] and "selected": index or -1 (list boxes only)}
//
// Handles are plain numbers. Texts are UTF-8. Hidden top-level windows are left out unless
// --all is given; hidden children are always listed (a hidden control's rectangle still counts).
// `window_report.exe --close HWND` posts WM_CLOSE to that window instead (exit 1 if it is no window);
// `window_report.exe --serve` answers commands on stdin, one line each (see Serve).
// Texts of other processes' controls are fetched with WM_GETTEXT under a 1 s timeout each, so a
// hung window cannot hang the inspector; a timed-out text reads as "".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr UINT kMessageTimeoutMs = 1000;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

std::string Json(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Number(ULONG_PTR value) { return std::to_string(value); }
std::string Handle(HWND window) { return Number(reinterpret_cast<ULONG_PTR>(window)); }

std::string Rect(const RECT& r) {
    return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + "]";
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

// WM_GETTEXT, bounded; GetWindowText would not ask another process's edit control.
std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &length))
        return {};
    std::vector<wchar_t> buffer(length + 2, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied))
        return {};
    return std::wstring(buffer.data(), copied < buffer.size() ? copied : buffer.size() - 1);
}

std::string ListItems(HWND list) {
    std::string out = "[";
    DWORD_PTR count = 0;
    if (SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &count) &&
        static_cast<LONG_PTR>(count) > 0) {
        for (DWORD_PTR i = 0; i < count && i < 256; ++i) {
            DWORD_PTR length = 0;
            std::wstring item;
            if (SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                                    &length) &&
                static_cast<LONG_PTR>(length) >= 0 && length < 4096) {
                std::vector<wchar_t> buffer(length + 2, L'\0');
                DWORD_PTR copied = 0;
                if (SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buffer.data()),
                                        SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied) &&
                    static_cast<LONG_PTR>(copied) >= 0)
                    item.assign(buffer.data(), copied <= length ? copied : length);
            }
            if (i > 0) out += ",";
            out += Json(Utf8(item));
        }
    }
    return out + "]";
}

struct Collected {
    std::vector<HWND> windows;
};

BOOL CALLBACK Collect(HWND window, LPARAM param) {
    reinterpret_cast<Collected*>(param)->windows.push_back(window);
    return TRUE;
}

std::string Child(HWND child) {
    RECT rect = {};
    GetWindowRect(child, &rect);
    const std::wstring cls = ClassOf(child);
    const bool isList = lstrcmpiW(cls.c_str(), L"ListBox") == 0;
    std::string out = "{\"hwnd\":" + Handle(child) + ",\"parent\":" + Handle(GetParent(child)) +
                      ",\"id\":" + std::to_string(GetDlgCtrlID(child)) +
                      ",\"class\":" + Json(Utf8(cls)) + ",\"text\":" + Json(Utf8(TextOf(child))) +
                      ",\"style\":" + Number(static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE))) +
                      ",\"rect\":" + Rect(rect) +
                      ",\"visible\":" + (IsWindowVisible(child) ? "true" : "false") +
                      ",\"enabled\":" + (IsWindowEnabled(child) ? "true" : "false");
    if (isList) {
        DWORD_PTR selected = static_cast<DWORD_PTR>(LB_ERR);
        SendMessageTimeoutW(child, LB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &selected);
        out += ",\"items\":" + ListItems(child) +
               ",\"selected\":" + std::to_string(static_cast<LONG_PTR>(selected));
    }
    return out + "}";
}

std::string TopLevel(HWND window) {
    DWORD pid = 0;
    const DWORD tid = GetWindowThreadProcessId(window, &pid);
    RECT rect = {}, client = {};
    GetWindowRect(window, &rect);
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    OffsetRect(&client, origin.x, origin.y);
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    HWND focus = GetGUIThreadInfo(tid, &thread) ? thread.hwndFocus : nullptr;
    HANDLE xid = GetPropA(window, "__wine_x11_whole_window");

    std::string out = "{\"hwnd\":" + Handle(window) + ",\"pid\":" + Number(pid) +
                      ",\"tid\":" + Number(tid) + ",\"class\":" + Json(Utf8(ClassOf(window))) +
                      ",\"title\":" + Json(Utf8(TextOf(window))) + ",\"rect\":" + Rect(rect) +
                      ",\"client\":" + Rect(client) +
                      ",\"visible\":" + (IsWindowVisible(window) ? "true" : "false") +
                      ",\"enabled\":" + (IsWindowEnabled(window) ? "true" : "false") +
                      ",\"owner\":" + Handle(GetWindow(window, GW_OWNER)) +
                      ",\"style\":" + Number(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE))) +
                      ",\"exstyle\":" + Number(static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE))) +
                      ",\"xid\":" + Number(reinterpret_cast<ULONG_PTR>(xid)) +
                      ",\"focus\":" + Handle(focus) + ",\"children\":[";
    Collected children;
    EnumChildWindows(window, Collect, reinterpret_cast<LPARAM>(&children));
    for (size_t i = 0; i < children.windows.size(); ++i) {
        if (i > 0) out += ",";
        out += Child(children.windows[i]);
    }
    return out + "]}";
}

// The JSON report of the visible (all: every) top-level window, on one line.
std::string Report(bool all) {
    Collected top;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&top));
    std::string out = "{\"screen\":[" + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "," +
                      std::to_string(GetSystemMetrics(SM_CYSCREEN)) +
                      "],\"foreground\":" + Handle(GetForegroundWindow()) + ",\"windows\":[";
    bool first = true;
    for (HWND window : top.windows) {
        if (!all && !IsWindowVisible(window)) continue;
        if (!first) out += ",";
        first = false;
        out += TopLevel(window);
    }
    return out + "]}\n";
}

bool Close(const char* handle) {
    HWND window = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(std::strtoull(handle, nullptr, 10)));
    return IsWindow(window) && PostMessageW(window, WM_CLOSE, 0, 0);
}

void Print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// One answer line per command line: "list", "list all", "close HWND"; "quit" or the end of
// input ends it. Saves a Wine start per look (about a second on a busy machine).
int Serve() {
    char line[256];
    while (std::fgets(line, sizeof line, stdin)) {
        std::string command(line);
        while (!command.empty() && (command.back() == '\n' || command.back() == '\r'))
            command.pop_back();
        if (command == "list" || command == "list all")
            Print(Report(command == "list all"));
        else if (command.compare(0, 6, "close ") == 0)
            Print(Close(command.c_str() + 6) ? "{\"ok\":true}\n" : "{\"ok\":false}\n");
        else if (command == "quit")
            return 0;
        else
            Print("{\"error\":" + Json(command) + "}\n");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && lstrcmpA(argv[1], "--serve") == 0) return Serve();
    if (argc == 3 && lstrcmpA(argv[1], "--close") == 0) {
        if (Close(argv[2])) return 0;
        std::fprintf(stderr, "inspect: %s is not a window\n", argv[2]);
        return 1;
    }
    const bool all = argc == 2 && lstrcmpA(argv[1], "--all") == 0;
    if (argc > 1 && !all) {
        std::fprintf(stderr, "usage: window_report.exe [--all] | --close HWND | --serve\n");
        return 1;
    }
    Print(Report(all));
    return 0;
}
