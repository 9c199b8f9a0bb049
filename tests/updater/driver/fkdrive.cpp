// Test driver for the updater's windows, run under the same Wine prefix.
// Commands are separated by a lone ";" argument; each prints what it found.
//
//   wait <selector> [ms]          wait for a top-level window (class=NAME or a title)
//   gone <selector> [ms]          wait until no such top-level window exists
//   children <selector>           list child windows: class|text|visible|x,y,w,h
//   text <selector>               print a top-level window's title
//   click <selector> <child>      press and release the left button inside a child
//   settext <selector> <child> T  set a child's text (an edit)
//   childtext <selector> <child>  print a child's text
//   close <selector>              post WM_CLOSE, as the system does when closing a window
//   box [ms]                      wait for a message box, print "title|text"
//   press <button> [ms]           answer the message box: Yes, No, Cancel or OK
//   hold <name> <ms>              hold a named semaphore for ms
//   sleep <ms>
//
// A child is text=CAPTION, or CLASS#N (N-th child of that class, from 0).
// Exit code 0 when every command succeeded, 1 otherwise. FKDRIVE_DESKTOP names
// the desktop to work on (a Wine virtual desktop started with /desktop=NAME).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += static_cast<char>(c);
  }
  return out;
}

struct FindTop {
  std::string selector;
  HWND found = nullptr;
};

bool Matches(HWND window, const std::string& selector) {
  if (selector.rfind("class=", 0) == 0) return ClassOf(window) == selector.substr(6);
  return WindowText(window) == selector;
}

BOOL CALLBACK FindTopProc(HWND window, LPARAM data) {
  auto* find = reinterpret_cast<FindTop*>(data);
  if (IsWindowVisible(window) && Matches(window, find->selector)) {
    find->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindTopWindow(const std::string& selector) {
  FindTop find{selector};
  EnumWindows(FindTopProc, reinterpret_cast<LPARAM>(&find));
  if (find.found == nullptr) {
    // Inside Wine's virtual desktop the windows are children of the desktop window.
    EnumChildWindows(GetDesktopWindow(), FindTopProc, reinterpret_cast<LPARAM>(&find));
  }
  return find.found;
}

HWND WaitTopWindow(const std::string& selector, DWORD ms) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND window = FindTopWindow(selector);
    if (window != nullptr) return window;
    if (GetTickCount() - start >= ms) return nullptr;
    Sleep(50);
  }
}

BOOL CALLBACK CollectProc(HWND window, LPARAM data) {
  reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> list;
  EnumChildWindows(parent, CollectProc, reinterpret_cast<LPARAM>(&list));
  std::vector<HWND> direct;
  for (HWND w : list)
    if (GetParent(w) == parent) direct.push_back(w);
  return direct;
}

HWND FindChild(HWND parent, const std::string& selector) {
  std::vector<HWND> children = Children(parent);
  if (selector.rfind("text=", 0) == 0) {
    for (HWND w : children)
      if (WindowText(w) == selector.substr(5)) return w;
    return nullptr;
  }
  std::size_t hash = selector.find('#');
  std::string cls = selector.substr(0, hash);
  int wanted = hash == std::string::npos ? 0 : std::atoi(selector.c_str() + hash + 1);
  for (HWND w : children) {
    if (_stricmp(ClassOf(w).c_str(), cls.c_str()) == 0 && wanted-- == 0) return w;
  }
  return nullptr;
}


HWND WaitMessageBox(DWORD ms) { return WaitTopWindow("class=#32770", ms); }

std::string BoxText(HWND box) {
  HWND stat = GetDlgItem(box, 0xFFFF);
  if (stat != nullptr) return WindowText(stat);
  for (HWND w : Children(box))
    if (ClassOf(w) == "Static" && !WindowText(w).empty()) return WindowText(w);
  return std::string();
}

DWORD Ms(const std::vector<std::string>& args, std::size_t index, DWORD fallback) {
  return args.size() > index ? static_cast<DWORD>(std::strtoul(args[index].c_str(), nullptr, 10)) : fallback;
}

bool Fail(const std::string& what) {
  std::printf("FAIL %s\n", what.c_str());
  std::fflush(stdout);
  return false;
}

bool RunCommand(const std::vector<std::string>& a) {
  const std::string& cmd = a[0];
  if (cmd == "sleep") {
    Sleep(Ms(a, 1, 100));
    return true;
  }
  if (cmd == "hold" && a.size() >= 3) {
    HANDLE semaphore = CreateSemaphoreA(nullptr, 0, 1, a[1].c_str());
    std::printf("HOLD %s\n", GetLastError() == ERROR_ALREADY_EXISTS ? "existing" : "created");
    std::fflush(stdout);
    Sleep(Ms(a, 2, 1000));
    CloseHandle(semaphore);
    return true;
  }
  if (cmd == "wait" && a.size() >= 2) {
    HWND w = WaitTopWindow(a[1], Ms(a, 2, 15000));
    if (w == nullptr) return Fail("wait " + a[1]);
    std::printf("WINDOW %s|%s\n", ClassOf(w).c_str(), Printable(WindowText(w)).c_str());
    return true;
  }
  if (cmd == "gone" && a.size() >= 2) {
    DWORD start = GetTickCount(), ms = Ms(a, 2, 15000);
    while (FindTopWindow(a[1]) != nullptr) {
      if (GetTickCount() - start >= ms) return Fail("gone " + a[1]);
      Sleep(50);
    }
    std::printf("GONE %s\n", a[1].c_str());
    return true;
  }
  if (cmd == "text" && a.size() >= 2) {
    HWND w = WaitTopWindow(a[1], 5000);
    if (w == nullptr) return Fail("text " + a[1]);
    std::printf("TEXT %s\n", Printable(WindowText(w)).c_str());
    return true;
  }
  if (cmd == "children" && a.size() >= 2) {
    HWND w = WaitTopWindow(a[1], 5000);
    if (w == nullptr) return Fail("children " + a[1]);
    for (HWND c : Children(w)) {
      RECT r;
      GetWindowRect(c, &r);
      POINT p{r.left, r.top};
      ScreenToClient(w, &p);
      std::printf("CHILD %s|%s|%d|%ld,%ld,%ld,%ld\n", ClassOf(c).c_str(), Printable(WindowText(c)).c_str(),
                  IsWindowVisible(c) ? 1 : 0, p.x, p.y, r.right - r.left, r.bottom - r.top);
    }
    return true;
  }
  if ((cmd == "click" || cmd == "childtext") && a.size() >= 3) {
    HWND w = WaitTopWindow(a[1], 5000);
    HWND c = w != nullptr ? FindChild(w, a[2]) : nullptr;
    if (c == nullptr) return Fail(cmd + " " + a[2]);
    if (cmd == "childtext") {
      std::printf("CHILDTEXT %s\n", Printable(WindowText(c)).c_str());
      return true;
    }
    if (!IsWindowVisible(c)) return Fail("click on a hidden control " + a[2]);
    RECT r;
    GetClientRect(c, &r);
    LPARAM at = MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2);
    PostMessageA(c, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(c, WM_LBUTTONUP, 0, at);
    std::printf("CLICKED %s\n", a[2].c_str());
    return true;
  }
  if (cmd == "settext" && a.size() >= 4) {
    HWND w = WaitTopWindow(a[1], 5000);
    HWND c = w != nullptr ? FindChild(w, a[2]) : nullptr;
    if (c == nullptr) return Fail("settext " + a[2]);
    SendMessageTimeoutA(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[3].c_str()), SMTO_ABORTIFHUNG, 2000, nullptr);
    std::printf("SETTEXT %s\n", Printable(WindowText(c)).c_str());
    return true;
  }
  if (cmd == "close" && a.size() >= 2) {
    HWND w = WaitTopWindow(a[1], 5000);
    if (w == nullptr) return Fail("close " + a[1]);
    PostMessageA(w, WM_CLOSE, 0, 0);
    std::printf("CLOSED %s\n", a[1].c_str());
    return true;
  }
  if (cmd == "box") {
    HWND box = WaitMessageBox(Ms(a, 1, 15000));
    if (box == nullptr) return Fail("box");
    // The text is filled in right after the window appears.
    Sleep(200);
    std::printf("BOX %s|%s\n", Printable(WindowText(box)).c_str(), Printable(BoxText(box)).c_str());
    return true;
  }
  if (cmd == "press" && a.size() >= 2) {
    HWND box = WaitMessageBox(Ms(a, 2, 15000));
    if (box == nullptr) return Fail("press: no box");
    int id = a[1] == "Yes" ? IDYES : a[1] == "No" ? IDNO : a[1] == "Cancel" ? IDCANCEL : IDOK;
    HWND button = GetDlgItem(box, id);
    if (button == nullptr) return Fail("press: no button " + a[1]);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    DWORD start = GetTickCount();
    while (IsWindow(box) && IsWindowVisible(box) && GetTickCount() - start < 5000) Sleep(50);
    std::printf("PRESSED %s\n", a[1].c_str());
    return true;
  }
  return Fail("unknown command " + cmd);
}

}  // namespace

int main(int argc, char** argv) {
  // Windows inside a Wine virtual desktop live on a desktop of that name.
  const char* desktopName = std::getenv("FKDRIVE_DESKTOP");
  if (desktopName != nullptr && *desktopName != '\0') {
    HDESK desktop = nullptr;
    for (int tries = 0; desktop == nullptr && tries < 300; ++tries) {  // explorer may still be starting it
      desktop = OpenDesktopA(desktopName, 0, FALSE, GENERIC_ALL);
      if (desktop == nullptr) Sleep(100);
    }
    if (desktop == nullptr || !SetThreadDesktop(desktop)) {
      std::printf("FAIL desktop %s\n", desktopName);
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
