// Test driver for the updater's windows, run under the same Wine prefix.
// Commands are separated by a lone ";" argument:
//
//   wait <window> [ms]            wait for a top-level window (class=NAME or a title)
//   gone <window> [ms]            wait until no such top-level window exists
//   children <window>             print its client size (CLIENT w h), then its child windows:
//                                 CHILD class|text|visible|left top right bottom (client coordinates)
//   name <window> <child>         print the child's accessible name as MSAA gives it: NAME text
//   click <window> <child>        press and release the left button inside a child
//   settext <window> <child> T    set a child's text (an edit)
//   key <window> <key>...         bring the window to the front and type keys through
//                                 the system's input queue: tab, shift+tab, enter, space, esc
//   focus <window> <child> [ms]   wait until the child has the keyboard focus
//   close <window>                post WM_CLOSE, as the system does when closing a window
//   minimize <window>             minimise it
//   front <window> [ms]           wait until it is the foreground window, not minimised
//   answer <button> [ms]          wait for a message box, print BOX title|text, press Yes, No, Cancel or OK
//   hold <name> <ms>              hold a named semaphore for ms
//   lock <file> <ms>              hold a file open for ms, others may only read it (as a virus scanner does)
//   sleep <ms>
//
// A child is text=CAPTION, or CLASS#N (N-th child of that class, from 0).
// The first line is STARTED, so that a caller can tell a driver that never ran
// (Wine failed to start it) from a command that failed.
// Exit code 0 when every command succeeded, 1 otherwise. FKDRIVE_DESKTOP names
// the desktop to work on (a Wine virtual desktop started with /desktop=NAME).
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string WindowText(HWND window) {
  char buffer[1024] = {};
  // WM_GETTEXT works for other processes' windows too.
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer - 1, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                      2000, nullptr);
  return buffer;
}

std::string ClassOf(HWND window) {
  char buffer[256] = {};
  GetClassNameA(window, buffer, sizeof buffer);
  return buffer;
}

// One line per text: backslash, CR and LF escaped.
std::string Printable(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\\' ? "\\\\" : c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  return out;
}

BOOL CALLBACK Collect(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> list;
  for (HWND w = GetWindow(parent, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) list.push_back(w);
  return list;
}

HWND FindTopWindow(const std::string& selector) {
  std::vector<HWND> windows;
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
  // Inside Wine's virtual desktop the windows are children of the desktop window.
  EnumChildWindows(GetDesktopWindow(), Collect, reinterpret_cast<LPARAM>(&windows));
  for (HWND w : windows) {
    if (IsWindowVisible(w) &&
        (selector.rfind("class=", 0) == 0 ? ClassOf(w) == selector.substr(6) : WindowText(w) == selector))
      return w;
  }
  return nullptr;
}

// Polls until done() or ms have passed; returns what done() said last.
template <class F>
bool WaitFor(F done, DWORD ms) {
  for (const DWORD start = GetTickCount();; Sleep(50)) {
    if (done()) return true;
    if (GetTickCount() - start >= ms) return false;
  }
}

// Polls until the window is there (or, with gone, no longer there) or ms have
// passed; returns what the last look found.
HWND WaitTopWindow(const std::string& selector, DWORD ms, bool gone = false) {
  HWND window = nullptr;
  WaitFor([&] { return ((window = FindTopWindow(selector)) == nullptr) == gone; }, ms);
  return window;
}

HWND FindChild(HWND parent, const std::string& selector) {
  const bool byText = selector.rfind("text=", 0) == 0;
  const std::size_t hash = selector.find('#');
  const std::string cls = selector.substr(0, hash);
  int wanted = hash == std::string::npos ? 0 : std::atoi(selector.c_str() + hash + 1);
  for (HWND w : Children(parent)) {
    if (byText ? WindowText(w) == selector.substr(5) : _stricmp(ClassOf(w).c_str(), cls.c_str()) == 0 && wanted-- == 0)
      return w;
  }
  return nullptr;
}

// A message box's text, or the prompt of a folder browser.
std::string BoxText(HWND box) {
  HWND text = GetDlgItem(box, 0xFFFF);
  if (text != nullptr) return WindowText(text);
  for (HWND w : Children(box))
    if (ClassOf(w) == "Static" && !WindowText(w).empty()) return WindowText(w);
  return std::string();
}

// A real key press, with Shift held around it when asked.
void TypeKey(const std::string& name) {
  const bool shift = name.rfind("shift+", 0) == 0;
  const std::string key = name.substr(shift ? 6 : 0);
  const WORD vk = key == "tab" ? VK_TAB : key == "enter" ? VK_RETURN : key == "space" ? VK_SPACE : VK_ESCAPE;
  INPUT input[4] = {};
  UINT n = 0;
  for (const auto& [k, flags] : {std::pair<WORD, DWORD>{VK_SHIFT, 0}, {vk, 0}, {vk, KEYEVENTF_KEYUP},
                                 {VK_SHIFT, KEYEVENTF_KEYUP}}) {
    if (k == VK_SHIFT && !shift) continue;
    input[n].type = INPUT_KEYBOARD;
    input[n].ki.wVk = k;
    input[n++].ki.dwFlags = flags;
  }
  SendInput(n, input, sizeof(INPUT));
}

DWORD Ms(const std::vector<std::string>& args, std::size_t index, DWORD fallback) {
  return args.size() > index ? static_cast<DWORD>(std::strtoul(args[index].c_str(), nullptr, 10)) : fallback;
}

bool Fail(const std::string& what) {
  std::printf("FAIL %s\n", what.c_str());
  return false;
}

bool RunCommand(const std::vector<std::string>& a) {
  const std::string& cmd = a[0];
  const std::string target = a.size() > 1 ? a[1] : std::string();
  if (cmd == "sleep") {
    Sleep(Ms(a, 1, 100));
    return true;
  }
  if (cmd == "hold") {
    HANDLE semaphore = CreateSemaphoreA(nullptr, 0, 1, target.c_str());
    Sleep(Ms(a, 2, 1000));
    CloseHandle(semaphore);
    return true;
  }
  if (cmd == "lock") {
    HANDLE file = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail("cannot open " + target);
    std::printf("LOCKED\n");
    std::fflush(stdout);
    Sleep(Ms(a, 2, 1000));
    CloseHandle(file);
    return true;
  }
  if (cmd == "answer") {
    HWND box = WaitTopWindow("class=#32770", Ms(a, 2, 15000));
    if (box == nullptr) return Fail("no message box");
    Sleep(200);  // the text is filled in right after the window appears
    std::printf("BOX %s|%s\n", Printable(WindowText(box)).c_str(), Printable(BoxText(box)).c_str());
    const int id = target == "Yes" ? IDYES : target == "No" ? IDNO : target == "Cancel" ? IDCANCEL : IDOK;
    HWND button = GetDlgItem(box, id);
    if (button == nullptr) return Fail("no button " + target);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    WaitFor([box] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000);
    return true;
  }
  if (cmd == "gone") return WaitTopWindow(target, Ms(a, 2, 15000), true) == nullptr || Fail("still there: " + target);
  if (cmd != "wait" && cmd != "children" && cmd != "close" && cmd != "click" && cmd != "settext" && cmd != "key" &&
      cmd != "focus" && cmd != "minimize" && cmd != "front" && cmd != "name")
    return Fail("unknown command " + cmd);
  HWND window = WaitTopWindow(target, cmd == "wait" ? Ms(a, 2, 15000) : 5000);
  if (window == nullptr) return Fail("no window " + target);
  if (cmd == "wait") return true;
  if (cmd == "close") return PostMessageA(window, WM_CLOSE, 0, 0) != FALSE;
  if (cmd == "minimize") return ShowWindowAsync(window, SW_MINIMIZE) != FALSE;
  if (cmd == "front")
    return WaitFor([window] { return GetForegroundWindow() == window && !IsIconic(window); }, Ms(a, 2, 5000)) ||
           Fail("not in front: " + target);
  if (cmd == "key") {
    SetForegroundWindow(window);
    for (std::size_t i = 2; i < a.size(); ++i) TypeKey(a[i]);
    return true;
  }
  if (cmd == "children") {
    RECT r;
    GetClientRect(window, &r);
    std::printf("CLIENT %ld %ld\n", r.right, r.bottom);
    for (HWND c : Children(window)) {
      GetWindowRect(c, &r);
      MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
      std::printf("CHILD %s|%s|%d|%ld %ld %ld %ld\n", ClassOf(c).c_str(), Printable(WindowText(c)).c_str(),
                  IsWindowVisible(c) ? 1 : 0, r.left, r.top, r.right, r.bottom);
    }
    return true;
  }
  HWND child = a.size() > 2 ? FindChild(window, a[2]) : nullptr;
  if (child == nullptr) return Fail(cmd + ": no child " + (a.size() > 2 ? a[2] : std::string()));
  if (cmd == "focus") {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    const auto focused = [&] {
      return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus == child;
    };
    return WaitFor(focused, Ms(a, 3, 5000)) || Fail("focus not on " + a[2]);
  }
  if (cmd == "name") {  // as a screen reader gets it: from oleacc, loaded only here
    using TFromWindow = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);
    auto fromWindow = reinterpret_cast<TFromWindow>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("oleacc.dll"), "AccessibleObjectFromWindow")));
    IAccessible* object = nullptr;
    VARIANT self = {};
    self.vt = VT_I4;  // CHILDID_SELF
    BSTR name = nullptr;
    if (fromWindow == nullptr ||
        FAILED(fromWindow(child, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible, reinterpret_cast<void**>(&object))))
      return Fail("no accessible object");
    object->get_accName(self, &name);
    object->Release();
    std::printf("NAME %ls\n", name != nullptr ? name : L"");
    SysFreeString(name);
    return true;
  }
  if (cmd == "settext")
    return SendMessageTimeoutA(child, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a.size() > 3 ? a[3].c_str() : ""),
                               SMTO_ABORTIFHUNG, 2000, nullptr) != 0;
  if (!IsWindowVisible(child)) return Fail("click on a hidden control " + a[2]);
  RECT r;
  GetClientRect(child, &r);
  const LPARAM at = MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2);
  PostMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageA(child, WM_LBUTTONUP, 0, at);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::printf("STARTED\n");
  std::fflush(stdout);
  // Windows inside a Wine virtual desktop live on a desktop of that name.
  const char* desktopName = std::getenv("FKDRIVE_DESKTOP");
  if (desktopName != nullptr && *desktopName != '\0') {
    HDESK desktop = nullptr;
    for (int tries = 0; desktop == nullptr && tries < 300; ++tries) {  // explorer may still be starting it
      desktop = OpenDesktopA(desktopName, 0, FALSE, GENERIC_ALL);
      if (desktop == nullptr) Sleep(100);
    }
    if (desktop == nullptr || !SetThreadDesktop(desktop)) {
      Fail(std::string("desktop ") + desktopName);
      return 1;
    }
  }
  std::vector<std::string> command;
  bool ok = true;
  for (int i = 1; i <= argc && ok; ++i) {
    if (i == argc || std::strcmp(argv[i], ";") == 0) {
      if (!command.empty()) ok = RunCommand(command);
      std::fflush(stdout);
      command.clear();
    } else {
      command.push_back(argv[i]);
    }
  }
  return ok ? 0 : 1;
}
