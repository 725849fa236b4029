// progman_recorder: a Program Manager DDE server for the end-to-end tests. It answers the
// "PROGMAN"/"PROGMAN" initiate, acknowledges every execute and writes each event to a log, one
// line per event, written through at once so that a reader sees it while the recorder runs:
//
//     progman_recorder.exe LOG [--timeout SECONDS] [--stop-file PATH] [--await-foreign SECONDS]
//                              [--ack-delay SECONDS] [--hidden]
//
// Log lines are tab-separated: sequence number, milliseconds since the recorder started, Unix
// time in milliseconds, the event, then key=value fields. Values escape the bytes below 0x20,
// 0x7F and above, and '%' as %XX; everything else, spaces and backslashes included, is as
// received. Events:
//     START     self, pid, topmost                  the server window exists
//     PROBE     rank, server, self, class, pid      one answer to the recorder's own initiate
//     READY     self, answers, first                the probe is done; start the client now
//     INITIATE  client, class, title, pid, app, topic, answered
//                                                   app and topic are atom names, spelled as
//                                                   whoever added the atom first (e.g. "Progman")
//     EXECUTE   client, handle, size, flags, text   size is GlobalSize of the block received
//     ACK       client, handle                      the positive answer to that execute, posted
//     TERMINATE client, open, dropped               open=1: a conversation was open, answered;
//                                                   dropped: answers not yet posted, now never
//     DDE       client, msg, lparam                 any other WM_DDE_* message
//     EXIT      reason                              timeout, stop-file or close
// The time limit defaults to 300 s. Exit code 0; 1 for a bad command line, 2 when the log or the
// windows cannot be made.
//
// Where the recorder sits among the servers: a WM_DDE_INITIATE broadcast visits the top-level
// windows in z-order, top first, and a client usually talks to the first server that answers.
// The server window is therefore a shown topmost popup (1x1, off the screen, never activated):
// it comes before every ordinary window, the desktop process's own hidden DDE windows included,
// whichever process made its windows first. Before READY the recorder broadcasts an initiate of
// its own from a second window and logs every answer in the order it came (PROBE lines), which
// shows who answers a client first. With --await-foreign it repeats that probe until some other
// server answers too (or the time is up), so that the log proves the order against the desktop's
// server. --hidden leaves the window hidden and not topmost, to compare.
//
// --ack-delay holds each execute's answer back for that long, so that a client that ends the
// conversation before its first answer arrived shows as a TERMINATE logged before any ACK.
#include <windows.h>
#include <dde.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kServerClass[] = "ProgmanRecorder";
const char kProbeClass[] = "ProgmanRecorderProbe";
const char kService[] = "PROGMAN";
const UINT_PTR kPollTimer = 1;
const UINT_PTR kFirstAckTimer = 100;  // one timer per delayed answer, from here on
const UINT kPollMs = 100;

struct Options {
    std::string logPath;
    std::string stopFile;
    DWORD timeoutMs = 300 * 1000;
    DWORD awaitForeignMs = 0;
    DWORD ackDelayMs = 0;
    bool hidden = false;
};

struct Answer {
    HWND server;
    DWORD pid;
    std::string serverClass;
};

struct PendingAck {
    UINT_PTR timer;
    HWND client;
    HGLOBAL commands;
};

struct Recorder {
    HANDLE log = INVALID_HANDLE_VALUE;
    DWORD startTick = 0;
    unsigned sequence = 0;
    HWND server = nullptr;
    HWND probe = nullptr;
    std::vector<HWND> openClients;     // clients whose initiate was answered, not yet terminated
    std::vector<Answer> probeAnswers;  // answers to the running probe, in arrival order
    std::vector<PendingAck> pendingAcks;
    UINT_PTR nextAckTimer = kFirstAckTimer;
    bool finished = false;
    bool probing = false;
    Options options;
};

Recorder recorder;

std::string Escape(const char* text, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c >= 0x7F || c == '%') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Escape(const std::string& text) { return Escape(text.data(), text.size()); }

std::string Hex(UINT_PTR value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value));
    return text;
}

std::string Number(unsigned long value) { return std::to_string(value); }

unsigned long long UnixMs() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks =
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return ticks / 10000 - 11644473600000ULL;  // 100 ns since 1601 -> ms since 1970
}

// fields: "key=value" entries, values already escaped.
void Log(const char* event, const std::vector<std::string>& fields) {
    std::string line = Number(++recorder.sequence) + "\t" + Number(GetTickCount() - recorder.startTick) +
                       "\t" + std::to_string(UnixMs()) + "\t" + event;
    for (const std::string& field : fields) line += "\t" + field;
    line += "\n";
    DWORD written = 0;
    WriteFile(recorder.log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

std::string AtomText(ATOM atom) {
    if (atom == 0) return "";
    char name[256];
    const UINT length = GlobalGetAtomNameA(atom, name, sizeof name);
    return std::string(name, length);
}

std::string ClassOf(HWND window) {
    char name[256];
    const int length = GetClassNameA(window, name, sizeof name);
    return length > 0 ? std::string(name, length) : std::string();
}

std::string TitleOf(HWND window) {
    char title[256];
    const int length = GetWindowTextA(window, title, sizeof title);
    return length > 0 ? std::string(title, length) : std::string();
}

DWORD PidOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

bool IsOpen(HWND client) {
    for (HWND open : recorder.openClients)
        if (open == client) return true;
    return false;
}

void Forget(HWND client) {
    for (size_t i = 0; i < recorder.openClients.size(); ++i)
        if (recorder.openClients[i] == client) {
            recorder.openClients.erase(recorder.openClients.begin() + static_cast<long>(i));
            return;
        }
}

// An empty application or topic in an initiate stands for any.
bool MatchesService(ATOM atom) {
    const std::string name = AtomText(atom);
    return name.empty() || lstrcmpiA(name.c_str(), kService) == 0;
}

// --- server window -------------------------------------------------------------------------------

void OnInitiate(HWND client, ATOM application, ATOM topic) {
    const bool answer = MatchesService(application) && MatchesService(topic);
    // The recorder's own probe is answered like any client but not logged as one.
    if (client != recorder.probe)
        Log("INITIATE", {"client=" + Hex(reinterpret_cast<UINT_PTR>(client)),
                         "class=" + Escape(ClassOf(client)), "title=" + Escape(TitleOf(client)),
                         "pid=" + Number(PidOf(client)), "app=" + Escape(AtomText(application)),
                         "topic=" + Escape(AtomText(topic)), "answered=" + Number(answer)});
    if (!answer) return;
    if (!IsOpen(client)) recorder.openClients.push_back(client);
    // The answering atoms belong to the client once it has them; it deletes them.
    SendMessageA(client, WM_DDE_ACK, reinterpret_cast<WPARAM>(recorder.server),
                 MAKELPARAM(GlobalAddAtomA(kService), GlobalAddAtomA(kService)));
}

// Positive acknowledgement; the block goes back to the client, which frees it.
void Acknowledge(HWND client, HGLOBAL commands) {
    Log("ACK", {"client=" + Hex(reinterpret_cast<UINT_PTR>(client)),
                "handle=" + Hex(reinterpret_cast<UINT_PTR>(commands))});
    PostMessageA(client, WM_DDE_ACK, reinterpret_cast<WPARAM>(recorder.server),
                 PackDDElParam(WM_DDE_ACK, 0x8000, reinterpret_cast<UINT_PTR>(commands)));
}

void OnExecute(HWND client, HGLOBAL commands) {
    const SIZE_T size = commands ? GlobalSize(commands) : 0;
    const UINT flags = commands ? GlobalFlags(commands) : 0;
    std::string text;
    if (const char* block = commands ? static_cast<const char*>(GlobalLock(commands)) : nullptr) {
        text.assign(block, strnlen(block, size));
        GlobalUnlock(commands);
    }
    Log("EXECUTE",
        {"client=" + Hex(reinterpret_cast<UINT_PTR>(client)),
         "handle=" + Hex(reinterpret_cast<UINT_PTR>(commands)),
         "size=" + Number(static_cast<unsigned long>(size)), "flags=" + Hex(flags), "text=" + Escape(text)});
    if (recorder.options.ackDelayMs == 0) {
        Acknowledge(client, commands);
        return;
    }
    const UINT_PTR timer = recorder.nextAckTimer++;
    recorder.pendingAcks.push_back({timer, client, commands});
    SetTimer(recorder.server, timer, recorder.options.ackDelayMs, nullptr);
}

void OnAckTimer(UINT_PTR timer) {
    KillTimer(recorder.server, timer);
    for (size_t i = 0; i < recorder.pendingAcks.size(); ++i) {
        const PendingAck pending = recorder.pendingAcks[i];
        if (pending.timer != timer) continue;
        recorder.pendingAcks.erase(recorder.pendingAcks.begin() + static_cast<long>(i));
        Acknowledge(pending.client, pending.commands);
        return;
    }
}

// Answers left for a client that ended the conversation are never posted.
unsigned DropPendingAcks(HWND client) {
    unsigned dropped = 0;
    for (size_t i = recorder.pendingAcks.size(); i-- > 0;) {
        if (recorder.pendingAcks[i].client != client) continue;
        KillTimer(recorder.server, recorder.pendingAcks[i].timer);
        recorder.pendingAcks.erase(recorder.pendingAcks.begin() + static_cast<long>(i));
        ++dropped;
    }
    return dropped;
}

void OnTerminate(HWND client) {
    const bool open = IsOpen(client);
    const unsigned dropped = DropPendingAcks(client);
    if (client != recorder.probe)
        Log("TERMINATE", {"client=" + Hex(reinterpret_cast<UINT_PTR>(client)), "open=" + Number(open),
                          "dropped=" + Number(dropped)});
    if (!open) return;
    Forget(client);
    PostMessageA(client, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(recorder.server), 0);
}

void Finish(const char* reason) {
    if (recorder.finished) return;  // a timer may fire once more before the quit message
    recorder.finished = true;
    Log("EXIT", {std::string("reason=") + reason});
    for (HWND client : recorder.openClients)
        PostMessageA(client, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(recorder.server), 0);
    recorder.openClients.clear();
    PostQuitMessage(0);
}

void OnPoll() {
    if (GetTickCount() - recorder.startTick >= recorder.options.timeoutMs) {
        Finish("timeout");
    } else if (!recorder.options.stopFile.empty() &&
               GetFileAttributesA(recorder.options.stopFile.c_str()) != INVALID_FILE_ATTRIBUTES) {
        Finish("stop-file");
    }
}

LRESULT CALLBACK ServerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND client = reinterpret_cast<HWND>(wParam);
    switch (message) {
    case WM_DDE_INITIATE:
        OnInitiate(client, LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_DDE_EXECUTE:
        OnExecute(client, reinterpret_cast<HGLOBAL>(lParam));
        return 0;
    case WM_DDE_TERMINATE:
        OnTerminate(client);
        return 0;
    case WM_TIMER:
        if (wParam == kPollTimer)
            OnPoll();
        else
            OnAckTimer(wParam);
        return 0;
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    case WM_CLOSE:
        Finish("close");
        return 0;
    }
    if (message >= WM_DDE_FIRST && message <= WM_DDE_LAST) {
        Log("DDE", {"client=" + Hex(reinterpret_cast<UINT_PTR>(client)), "msg=" + Hex(message),
                    "lparam=" + Hex(static_cast<UINT_PTR>(lParam))});
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// --- probe window ----------------------------------------------------------------------------------

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DDE_ACK:
        if (recorder.probing) {
            // Answers to an initiate arrive sent, during the broadcast, in the order it visits.
            const HWND server = reinterpret_cast<HWND>(wParam);
            recorder.probeAnswers.push_back({server, PidOf(server), ClassOf(server)});
            GlobalDeleteAtom(LOWORD(lParam));
            GlobalDeleteAtom(HIWORD(lParam));
        }
        return 0;
    case WM_DDE_TERMINATE:
        return 0;  // the servers' replies to the probe's own terminates
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Broadcasts one initiate from the probe window and ends every conversation it opened.
void Probe() {
    recorder.probeAnswers.clear();
    recorder.probing = true;
    const ATOM application = GlobalAddAtomA(kService);
    const ATOM topic = GlobalAddAtomA(kService);
    DWORD_PTR ignored = 0;
    // Bounded: a hung top-level window must not hold the recorder up.
    SendMessageTimeoutA(HWND_BROADCAST, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(recorder.probe),
                        MAKELPARAM(application, topic), SMTO_ABORTIFHUNG, 2000, &ignored);
    GlobalDeleteAtom(application);
    GlobalDeleteAtom(topic);
    recorder.probing = false;
    for (const Answer& answer : recorder.probeAnswers)
        PostMessageA(answer.server, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(recorder.probe), 0);
}

bool HasForeignAnswer() {
    for (const Answer& answer : recorder.probeAnswers)
        if (answer.server != recorder.server) return true;
    return false;
}

// Dispatches messages for about ms milliseconds.
void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    MSG message;
    while (GetTickCount() - start < ms) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

void ProbeAndLog() {
    const DWORD start = GetTickCount();
    for (;;) {
        Probe();
        Pump(100);  // lets the servers' terminate replies arrive before the next round
        if (HasForeignAnswer() || GetTickCount() - start >= recorder.options.awaitForeignMs) break;
        Pump(150);
    }
    unsigned rank = 0;
    for (const Answer& answer : recorder.probeAnswers)
        Log("PROBE", {"rank=" + Number(++rank), "server=" + Hex(reinterpret_cast<UINT_PTR>(answer.server)),
                      "self=" + Number(answer.server == recorder.server),
                      "class=" + Escape(answer.serverClass), "pid=" + Number(answer.pid)});
    const bool first =
        !recorder.probeAnswers.empty() && recorder.probeAnswers.front().server == recorder.server;
    Log("READY", {"self=" + Hex(reinterpret_cast<UINT_PTR>(recorder.server)),
                  "answers=" + Number(static_cast<unsigned long>(recorder.probeAnswers.size())),
                  "first=" + Number(first)});
}

// --- start -----------------------------------------------------------------------------------------

const char kUsage[] =
    "usage: progman_recorder.exe LOG [--timeout SECONDS] [--stop-file PATH] [--await-foreign SECONDS]\n"
    "                            [--ack-delay SECONDS] [--hidden]\n";

bool ParseSeconds(const char* text, DWORD* ms) {
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end == text || *end != '\0' || seconds < 0 || seconds > 86400) return false;
    *ms = static_cast<DWORD>(seconds * 1000);
    return true;
}

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--timeout" && hasValue) {
            if (!ParseSeconds(argv[++i], &options->timeoutMs)) return false;
        } else if (argument == "--await-foreign" && hasValue) {
            if (!ParseSeconds(argv[++i], &options->awaitForeignMs)) return false;
        } else if (argument == "--ack-delay" && hasValue) {
            if (!ParseSeconds(argv[++i], &options->ackDelayMs)) return false;
        } else if (argument == "--stop-file" && hasValue) {
            options->stopFile = argv[++i];
        } else if (argument == "--hidden") {
            options->hidden = true;
        } else if (argument.rfind("--", 0) != 0 && options->logPath.empty()) {
            options->logPath = argument;
        } else {
            return false;
        }
    }
    return !options->logPath.empty();
}

bool RegisterClasses(HINSTANCE instance) {
    WNDCLASSA server = {};
    server.lpfnWndProc = ServerProc;
    server.hInstance = instance;
    server.lpszClassName = kServerClass;
    WNDCLASSA probe = {};
    probe.lpfnWndProc = ProbeProc;
    probe.hInstance = instance;
    probe.lpszClassName = kProbeClass;
    return RegisterClassA(&server) && RegisterClassA(&probe);
}

}  // namespace

int main(int argc, char** argv) {
    if (!ParseOptions(argc, argv, &recorder.options)) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    recorder.startTick = GetTickCount();
    recorder.log =
        CreateFileA(recorder.options.logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (recorder.log == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "progman_recorder: cannot create the log %s (error %lu); check the directory\n",
                     recorder.options.logPath.c_str(), GetLastError());
        return 2;
    }
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!RegisterClasses(instance)) {
        std::fprintf(stderr, "progman_recorder: RegisterClass failed (error %lu)\n", GetLastError());
        return 2;
    }
    const bool topmost = !recorder.options.hidden;
    recorder.server =
        CreateWindowExA(topmost ? WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE : 0, kServerClass,
                        "Progman recorder", WS_POPUP, -100, -100, 1, 1, nullptr, nullptr, instance, nullptr);
    recorder.probe = CreateWindowExA(0, kProbeClass, "Progman recorder probe", WS_POPUP, 0, 0, 0, 0, nullptr,
                                     nullptr, instance, nullptr);
    if (!recorder.server || !recorder.probe) {
        std::fprintf(stderr, "progman_recorder: CreateWindow failed (error %lu)\n", GetLastError());
        return 2;
    }
    if (topmost) {
        ShowWindow(recorder.server, SW_SHOWNOACTIVATE);
        SetWindowPos(recorder.server, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    Log("START", {"self=" + Hex(reinterpret_cast<UINT_PTR>(recorder.server)),
                  "pid=" + Number(GetCurrentProcessId()), "topmost=" + Number(topmost)});
    ProbeAndLog();

    SetTimer(recorder.server, kPollTimer, kPollMs, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    CloseHandle(recorder.log);
    return 0;
}
