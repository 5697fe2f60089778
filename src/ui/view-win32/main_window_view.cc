#include "ui/view-win32/main_window_view.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/windows_text.h"
#include "ui/console_state.h"
#include "ui/icon_picture.h"
#include "ui/last_run_status.h"

namespace quorvex {
namespace {

constexpr wchar_t kWindowClass[] = L"QuorvexServer";
constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kTickMilliseconds = 50;
constexpr int kFirstControlId = 100;

int ToPixels(int twips, int dpi) { return MulDiv(twips, dpi, 1440); }

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), text.size())));
  return text;
}

// Output as the box shows it: NUL bytes, which would end the text early,
// and carriage returns are left out; every line feed becomes the CR LF pair
// that an EDIT control breaks lines at.
std::string WithBoxLineBreaks(std::string_view text) {
  std::string shown;
  shown.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') shown += '\r';
    if (c != '\0' && c != '\r') shown += c;
  }
  return shown;
}

// The icon picture at size x size pixels, opaque.
HICON MakeIcon(int size) {
  const std::vector<unsigned char> rgb = DrawIconPixels(size);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = size;
  info.bmiHeader.biHeight = -size;  // rows from the top
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP color = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (color == nullptr) return nullptr;
  auto* pixel = static_cast<unsigned char*>(bits);
  for (std::size_t at = 0; at < rgb.size(); at += 3, pixel += 4) {
    pixel[0] = rgb[at + 2];
    pixel[1] = rgb[at + 1];
    pixel[2] = rgb[at];
    pixel[3] = 255;
  }
  // An all-zero mask: every pixel is drawn.
  const std::vector<unsigned char> mask_bits(static_cast<std::size_t>((size + 15) / 16) * 2 * size);
  HBITMAP mask = CreateBitmap(size, size, 1, 1, mask_bits.data());
  ICONINFO parts{TRUE, 0, 0, mask, color};
  HICON icon = mask != nullptr ? CreateIconIndirect(&parts) : nullptr;
  DeleteObject(color);
  if (mask != nullptr) DeleteObject(mask);
  return icon;
}

// Text of the labels of a message box, in child order.
BOOL CALLBACK CollectStaticText(HWND child, LPARAM data) {
  wchar_t class_name[16] = {};
  GetClassNameW(child, class_name, 16);
  if (lstrcmpiW(class_name, L"Static") == 0) {
    *reinterpret_cast<std::string*>(data) += WideToUtf8(WindowText(child));
  }
  return TRUE;
}

struct OtherWindows {
  HWND main;
  std::string lines;
};

BOOL CALLBACK DescribeOtherWindow(HWND window, LPARAM data) {
  auto& found = *reinterpret_cast<OtherWindows*>(data);
  if (window == found.main || !IsWindowVisible(window)) return TRUE;
  std::string message;
  EnumChildWindows(window, CollectStaticText, reinterpret_cast<LPARAM>(&message));
  found.lines += "window=" + EscapeForState(WideToUtf8(WindowText(window))) + "|" +
                 EscapeForState(message) + "\n";
  return TRUE;
}

[[noreturn]] void ThrowLastError(const char* call) {
  throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), call);
}

void RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&window_class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    ThrowLastError("RegisterClassExW");
  }
}

}  // namespace

MainWindowView::MainWindowView(frmMain& form) : form_(form) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterWindowClass(instance, WindowProc);

  HDC screen = GetDC(nullptr);
  dpi_x_ = GetDeviceCaps(screen, LOGPIXELSX);
  dpi_y_ = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  // The font mapper puts a close face in place of a family not installed.
  font_.reset(CreateFontW(-static_cast<int>(std::lround(frmMain::kFontPoints * dpi_y_ / 72.0)), 0,
                          0, 0, frmMain::kFontWeight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_SWISS, Utf8ToWide(frmMain::kFontName).c_str()));
  big_icon_.reset(MakeIcon(GetSystemMetrics(SM_CXICON)));
  small_icon_.reset(MakeIcon(GetSystemMetrics(SM_CXSMICON)));

  CreateFrame(instance);
  // Children are created in tab order, which is the order the focus moves
  // in.
  for (const Control* control : form_.Controls()) AddControl(*control, instance);
  status_ = CreateWindowExW(
      0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS,
      0, ToPixels(frmMain::kClientHeightTwips, dpi_y_),
      ToPixels(frmMain::kClientWidthTwips, dpi_x_), ToPixels(kStatusLineHeightTwips, dpi_y_),
      window_, nullptr, instance, nullptr);
  if (status_ == nullptr) ThrowLastError("CreateWindowExW");
  SendMessageW(status_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
  SetTimer(window_, kTickTimer, kTickMilliseconds, nullptr);
  form_.AttachView(this);
}

void MainWindowView::CreateFrame(HINSTANCE instance) {
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT frame{0, 0, ToPixels(frmMain::kClientWidthTwips, dpi_x_),
             ToPixels(frmMain::kClientHeightTwips + kStatusLineHeightTwips, dpi_y_)};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  // WindowProc sets window_ when the window is created.
  CreateWindowExW(0, kWindowClass, Utf8ToWide(frmMain::kCaption).c_str(), style, CW_USEDEFAULT,
                  CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                  nullptr, instance, this);
  if (window_ == nullptr) ThrowLastError("CreateWindowExW");
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon_.get()));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_.get()));
}

void MainWindowView::AddControl(const Control& control, HINSTANCE instance) {
  const wchar_t* control_class = L"STATIC";
  DWORD control_style = WS_CHILD | WS_VISIBLE;
  switch (control.Kind()) {
    case ControlKind::kLabel:
      control_style |= SS_LEFT | SS_NOPREFIX;
      break;
    case ControlKind::kTextBox:
      control_class = L"EDIT";
      control_style |= WS_BORDER | ES_AUTOHSCROLL;
      break;
    case ControlKind::kMultiLineTextBox:
      // Only a vertical scroll bar: long lines wrap at the box's edge.
      control_class = L"EDIT";
      control_style |= WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY;
      break;
    case ControlKind::kCommandButton:
      control_class = L"BUTTON";
      control_style |= BS_PUSHBUTTON | BS_FLAT;
      break;
  }
  if (!control.Enabled()) control_style |= WS_DISABLED;
  if (control.TakesFocus()) control_style |= WS_TABSTOP;
  const TwipRect& r = control.Rect();
  HWND child = CreateWindowExW(
      0, control_class, Utf8ToWide(control.Caption()).c_str(), control_style,
      ToPixels(r.left, dpi_x_), ToPixels(r.top, dpi_y_), ToPixels(r.width, dpi_x_),
      ToPixels(r.height, dpi_y_), window_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + control.TabIndex())), instance,
      nullptr);
  if (child == nullptr) ThrowLastError("CreateWindowExW");
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
  controls_.emplace_back(&control, child);
  if (control.Kind() == ControlKind::kMultiLineTextBox) {
    output_ = child;
    SendMessageW(output_, EM_SETLIMITTEXT, 0, 0);  // the largest a box can hold
  }
  if (control.Kind() != ControlKind::kLabel && control.Kind() != ControlKind::kCommandButton) {
    TextChanged(control, {}, false);
  }
}

MainWindowView::~MainWindowView() {
  form_.AttachView(nullptr);
  if (window_ != nullptr) {
    // Detached first, so that destroying the window does not end the
    // message loop of whoever runs one next.
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

void MainWindowView::Show() {
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  RECT frame{};
  GetWindowRect(window_, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(window_, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
  const std::vector<const Control*> order = form_.FocusOrder();
  if (!order.empty()) SetFocus(ControlWindow(*order.front()));
}

void MainWindowView::RunUntilClosed() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) Dispatch(message);
}

void MainWindowView::ProcessPendingEvents() {
  if (window_ == nullptr) return;
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));  // for the loop outside
      return;
    }
    Dispatch(message);
  }
}

void MainWindowView::Dispatch(MSG& message) {
  if (message.message == WM_KEYDOWN && message.wParam == VK_TAB && window_ != nullptr &&
      (message.hwnd == window_ || IsChild(window_, message.hwnd))) {
    HWND focus = GetFocus();
    if (focus != nullptr && !IsChild(window_, focus)) focus = nullptr;
    if (HWND next = GetNextDlgTabItem(window_, focus, GetKeyState(VK_SHIFT) < 0)) SetFocus(next);
    return;
  }
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

void MainWindowView::TextChanged(const Control& control, std::string_view appended, bool append) {
  HWND child = ControlWindow(control);
  if (child == nullptr) return;
  if (child == output_) {
    // The runner hands over UTF-8 text, each piece whole.
    if (append) {
      const std::wstring shown = Utf8ToWide(WithBoxLineBreaks(appended));
      const int end = GetWindowTextLengthW(output_);
      SendMessageW(output_, EM_SETSEL, end, end);
      SendMessageW(output_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(shown.c_str()));
    } else {
      SetWindowTextW(output_, Utf8ToWide(WithBoxLineBreaks(control.Text())).c_str());
    }
    // The caret goes where the model put it: after every change that is the
    // end of the text, which then scrolls into view.
    WPARAM caret = static_cast<WPARAM>(GetWindowTextLengthW(output_));
    if (control.SelStart() < control.Text().size()) {
      const std::string_view before =
          std::string_view(control.Text()).substr(0, control.SelStart());
      caret = std::min<WPARAM>(caret, Utf8ToWide(WithBoxLineBreaks(before)).size());
    }
    SendMessageW(output_, EM_SETSEL, caret, static_cast<LPARAM>(caret));
    SendMessageW(output_, EM_SCROLLCARET, 0, 0);
    return;
  }
  if (control.Kind() == ControlKind::kTextBox && WideToUtf8(WindowText(child)) != control.Text()) {
    SetWindowTextW(child, Utf8ToWide(control.Text()).c_str());
  }
}

void MainWindowView::ShowStatus(const std::string& text) {
  SetWindowTextW(status_, Utf8ToWide(text).c_str());
}

std::string MainWindowView::DescribeState() const {
  std::string state;
  HWND focus = GetFocus();
  std::string focus_name = focus == nullptr ? "none" : "other";
  for (const auto& [control, child] : controls_) {
    if (focus == child) focus_name = control->Name();
    if (control->Kind() == ControlKind::kTextBox) {
      state += control->Name() + ".text=" + EscapeForState(WideToUtf8(WindowText(child))) + "\n";
    }
  }
  const std::wstring shown = WindowText(output_);
  std::string text = WideToUtf8(shown);
  std::erase(text, '\r');
  DWORD caret = 0;
  SendMessageW(output_, EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
  state += "txtSalida.text=" + EscapeForState(text) + "\n";
  state += "txtSalida.insert=" + std::to_string(caret) + "\n";
  state += "txtSalida.length=" + std::to_string(shown.size()) + "\n";
  state += "focus=" + focus_name + "\n";
  state += std::string("command_running=") + (CommandRunning() ? "1" : "0") + "\n";
  state += "status=" + EscapeForState(WideToUtf8(WindowText(status_))) + "\n";
  OtherWindows others{window_, {}};
  EnumThreadWindows(GetCurrentThreadId(), DescribeOtherWindow, reinterpret_cast<LPARAM>(&others));
  return state + others.lines;
}

HWND MainWindowView::ControlWindow(const Control& control) const {
  for (const auto& [model, child] : controls_) {
    if (model == &control) return child;
  }
  return nullptr;
}

void MainWindowView::PingPressed() {
  // The model learns what the operator typed before the handler reads it.
  const std::string typed = WideToUtf8(WindowText(ControlWindow(form_.txtNombreHost)));
  if (typed != form_.txtNombreHost.Text()) form_.txtNombreHost.SetText(typed);
  ++running_;
  form_.cmdPing_Click();
  --running_;
}

LRESULT CALLBACK MainWindowView::WindowProc(HWND window, UINT message, WPARAM wparam,
                                            LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* view =
        static_cast<MainWindowView*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    view->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
  }
  auto* view = reinterpret_cast<MainWindowView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (view == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    view->window_ = nullptr;
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  }
  return view->Handle(window, message, wparam, lparam);
}

LRESULT MainWindowView::Handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED) {
        const auto from = reinterpret_cast<HWND>(lparam);
        if (from == ControlWindow(form_.cmdPing)) PingPressed();
        if (from == ControlWindow(form_.cmdTrace)) form_.cmdTrace_Click();
        return 0;
      }
      break;
    case WM_CTLCOLORSTATIC: {
      // Labels and read-only boxes on the window colour.
      auto dc = reinterpret_cast<HDC>(wparam);
      SetBkColor(dc, GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    case WM_ACTIVATE:
      // The focused control is remembered while another window (a message
      // box) is active, and gets the focus back afterwards.
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window, focus)) last_focus_ = focus;
      }
      break;
    case WM_SETFOCUS: {
      HWND target =
          last_focus_ != nullptr ? last_focus_ : GetNextDlgTabItem(window, nullptr, FALSE);
      if (target != nullptr) SetFocus(target);
      return 0;
    }
    case WM_TIMER:
      if (wparam == kTickTimer && on_tick_) on_tick_();
      return 0;
    case WM_CLOSE:
      if (CommandRunning()) std::exit(EXIT_SUCCESS);
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace quorvex
