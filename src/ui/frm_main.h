// frmMain: the main window of the system, as a model that needs no display.
//
// It has two roles. For the job it is the host of the three job operations
// (GetPingTimbrado, Get_Transaccion_Uso, Get_Operadores_Info) and of the
// console runner objDOS whose output lands in the output box txtSalida, the
// capture buffer of the latency probe. For an operator it is a small
// console: type a command line into txtNombreHost and press Ping.
//
// The controls are plain data (caption, geometry in twips, tab order,
// enabled state, text). An on-screen view may attach itself; until one does,
// "process pending window events" does nothing and nothing is drawn.
//
// The job operations are declared here and implemented beside the
// subsystems they belong to: probe/ (the latency sweep and its tools) and
// reporting/ (the two reports).
#pragma once

#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "job/run_state.h"
#include "platform/message_box.h"
#include "probe/dos_outputs.h"

namespace quorvex {

enum class ControlKind { kLabel, kTextBox, kMultiLineTextBox, kCommandButton };

// Geometry in twips from the top left corner of the client area.
struct TwipRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

inline constexpr int kTwipsPerPixel = 15;

// A run-time failure as the window's handlers report it: a description, a
// source and a number (the message box of cmdPing_Click shows all three).
class RunTimeError : public std::runtime_error {
 public:
  RunTimeError(int number, const std::string& description, std::string source = kApplicationTitle)
      : std::runtime_error(description), number_(number), source_(std::move(source)) {}
  int Number() const { return number_; }
  const std::string& Source() const { return source_; }

 private:
  int number_;
  std::string source_;
};

// Number and description of using the runner while the window is not
// loaded, and of reading a NULL field as text.
inline constexpr int kErrObjectNotSet = 91;
inline constexpr char kErrObjectNotSetText[] = "Object variable or With block variable not set";
inline constexpr int kErrInvalidUseOfNull = 94;
inline constexpr char kErrInvalidUseOfNullText[] = "Invalid use of Null";

class Control;

// What an on-screen view offers the model.
class WindowView {
 public:
  virtual ~WindowView() = default;
  // Runs all pending window events (repaint and input) once, then returns.
  virtual void ProcessPendingEvents() = 0;
  // The control's text changed: either `appended` was added at its end
  // (append == true) or the whole text was replaced.
  virtual void TextChanged(const Control& control, std::string_view appended, bool append) = 0;
};

class frmMain;

class Control {
 public:
  Control(frmMain& form, std::string name, ControlKind kind, std::string caption, TwipRect rect,
          int tab_index, bool enabled, bool takes_focus);
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::string& Name() const { return name_; }
  ControlKind Kind() const { return kind_; }
  const std::string& Caption() const { return caption_; }
  const TwipRect& Rect() const { return rect_; }
  int TabIndex() const { return tab_index_; }
  bool Enabled() const { return enabled_; }
  bool TakesFocus() const { return takes_focus_; }

  // Text of a text box (empty for labels and buttons).
  const std::string& Text() const { return text_; }
  // Replaces the text; runs the control's change handler.
  void SetText(std::string text);
  // Appends to the text without copying what is there; runs the change
  // handler.
  void AppendText(std::string_view more);

  // Caret position (selection start), in bytes from the start of the text.
  std::size_t SelStart() const { return sel_start_; }
  void SetSelStart(std::size_t position) { sel_start_ = position; }

 private:
  void Changed(std::string_view appended, bool append);

  frmMain& form_;
  std::string name_;
  ControlKind kind_;
  std::string caption_;
  TwipRect rect_;
  int tab_index_;
  bool enabled_;
  bool takes_focus_;
  std::string text_;
  std::size_t sel_start_ = 0;
};

class frmMain final : private DOSOutputsListener {
 public:
  // run and boxes must outlive the form. runner_limits are handed to objDOS
  // at every load: the job bounds the tools it starts, the operator console
  // lets a command run until it ends.
  frmMain(RunState& run, MessageBoxPresenter& boxes, RunLimits runner_limits = {});
  ~frmMain() override;
  frmMain(const frmMain&) = delete;
  frmMain& operator=(const frmMain&) = delete;

  static constexpr char kCaption[] = "Quorvex Server";
  static constexpr int kClientWidthTwips = 6780;
  static constexpr int kClientHeightTwips = 4785;
  // The font of the window and of every control.
  static constexpr char kFontName[] = "Franklin Gothic Medium";
  static constexpr double kFontPoints = 8.25;
  static constexpr int kFontWeight = 400;

  // Controls, in tab order.
  Control Label1;
  Control txtNombreHost;
  Control Label2;
  Control txtPaquete;
  Control txtSalida;
  Control cmdPing;
  Control cmdTrace;

  // All controls in tab order.
  std::vector<const Control*> Controls() const;
  // The controls the focus visits, in order.
  std::vector<const Control*> FocusOrder() const;

  // Attaches (or with nullptr detaches) the on-screen view. Not owned.
  void AttachView(WindowView* view) { view_ = view; }

  // Window events.
  void Form_Load();         // creates objDOS
  void Form_QueryUnload();  // releases objDOS
  void cmdPing_Click();
  void cmdTrace_Click();
  void objDOS_ReceiveOutputs(std::string_view CommandOutputs);
  void txtSalida_Change();

  // The runner, present between Form_Load and Form_QueryUnload.
  DOSOutputs* objDOS() { return objDOS_.get(); }
  // The runner; throws RunTimeError (kErrObjectNotSet) when the window is
  // not loaded.
  DOSOutputs& Runner();

  // Job operations.
  void GetPingTimbrado();
  void Get_Transaccion_Uso();
  void Get_Operadores_Info();

  // The latency probe's tool operations.
  std::string bPSPING();
  std::string bTcPing();
  bool bCheckConnection(const std::string& url);
  std::string ExecCMD(const std::string& tool_path, const std::string& options,
                      const std::string& target);
  static std::string GetTextBetween(const std::string& text, const std::string& start_marker,
                                    const std::string& end_marker);
  double PsPingResp(const std::string& host);
  double TcPingResp(const std::string& host);

  RunState& Run() { return run_; }
  MessageBoxPresenter& Boxes() { return boxes_; }

 private:
  friend class Control;
  void ReceiveOutputs(std::string_view CommandOutputs) override {
    objDOS_ReceiveOutputs(CommandOutputs);
  }
  void ControlChanged(Control& control, std::string_view appended, bool append);
  // The system ping of the sweep: latency of host, or -1. Traps nothing.
  double SystemPingResp(const std::string& host);
  // bPSPING and bTcPing: the tool setting, its key text, the procedure
  // named in an entry.
  std::string LocateTool(const std::string& setting, std::string_view key,
                         std::string_view procedure);
  // True, after one error entry under procedure naming the path at fault
  // and the fix, when someone other than the administrators and the job's
  // account could have replaced the tool (see platform/write_access.h).
  bool RefuseReplaceableTool(std::string_view procedure, const std::string& tool);
  // PsPingResp and TcPingResp.
  double MeasureWithTool(const std::string& host, bool psping);
  // The error entry of procedure and text, unless this run has written
  // the same entry already: a tool that is missing or refused stays so for
  // every server of the sweep, and one entry says it (500 servers would
  // otherwise give 500 copies).
  void LogErrorOncePerRun(std::string_view procedure, const std::string& text);
  // The error entry, once per run, of a tool setting that names no tool
  // the sweep can start (it is missing, hidden, or not named at all).
  void ReportMissingTool(bool psping);

  RunState& run_;
  MessageBoxPresenter& boxes_;
  WindowView* view_ = nullptr;
  RunLimits runner_limits_;
  std::unique_ptr<DOSOutputs> objDOS_;
  // Entries of LogErrorOncePerRun, and "missing <path>" for each tool
  // whose absence is said already.
  std::set<std::string> reported_;
};

}  // namespace quorvex
