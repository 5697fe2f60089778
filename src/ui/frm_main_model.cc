// The main window as a model: its controls as data, its load and unload,
// the two buttons and the output box that captures the runner's output.
// (The file name keeps clear of *_main.cc, the mark of program entry points.)
#include <new>
#include <string>
#include <system_error>
#include <utility>

#include "ui/frm_main.h"

namespace quorvex {

Control::Control(frmMain& form, std::string name, ControlKind kind, std::string caption,
                 TwipRect rect, int tab_index, bool enabled, bool takes_focus)
    : form_(form),
      name_(std::move(name)),
      kind_(kind),
      caption_(std::move(caption)),
      rect_(rect),
      tab_index_(tab_index),
      enabled_(enabled),
      takes_focus_(takes_focus) {}

void Control::SetText(std::string text) {
  text_ = std::move(text);
  Changed({}, false);
}

void Control::AppendText(std::string_view more) {
  if (more.empty()) return;  // nothing changes
  text_.append(more);
  Changed(more, true);
}

void Control::Changed(std::string_view appended, bool append) {
  form_.ControlChanged(*this, appended, append);
}

// The packet-size box, its label and the Trace button cannot be used by the
// operator: they are disabled, and disabled controls and labels take no
// focus.
frmMain::frmMain(RunState& run, MessageBoxPresenter& boxes, RunLimits runner_limits)
    : Label1(*this, "Label1", ControlKind::kLabel, "NOMBRE HOST:", {240, 240, 1575, 255}, 0, true,
             false),
      txtNombreHost(*this, "txtNombreHost", ControlKind::kTextBox, "", {1920, 240, 3495, 285}, 1,
                    true, true),
      Label2(*this, "Label2", ControlKind::kLabel, "PAQUETE:", {240, 600, 1575, 255}, 2, false,
             false),
      txtPaquete(*this, "txtPaquete", ControlKind::kTextBox, "", {1920, 600, 975, 330}, 3, false,
                 false),
      txtSalida(*this, "txtSalida", ControlKind::kMultiLineTextBox, "", {120, 1080, 6495, 3570}, 4,
                true, true),
      cmdPing(*this, "cmdPing", ControlKind::kCommandButton, "Ping", {5640, 240, 975, 255}, 5, true,
              true),
      cmdTrace(*this, "cmdTrace", ControlKind::kCommandButton, "Trace", {5640, 600, 975, 255}, 6,
               false, false),
      run_(run),
      boxes_(boxes),
      runner_limits_(runner_limits) {}

frmMain::~frmMain() = default;

std::vector<const Control*> frmMain::Controls() const {
  return {&Label1, &txtNombreHost, &Label2, &txtPaquete, &txtSalida, &cmdPing, &cmdTrace};
}

std::vector<const Control*> frmMain::FocusOrder() const {
  std::vector<const Control*> order;
  for (const Control* control : Controls()) {
    if (control->TakesFocus()) order.push_back(control);
  }
  return order;
}

DOSOutputs& frmMain::Runner() {
  if (!objDOS_) throw RunTimeError(kErrObjectNotSet, kErrObjectNotSetText);
  return *objDOS_;
}

void frmMain::Form_Load() {
  DOSOutputsListener* listener = this;
  objDOS_ = std::make_unique<DOSOutputs>(listener, boxes_, run_.ProgramFolder, runner_limits_);
}

void frmMain::Form_QueryUnload() { objDOS_.reset(); }

void frmMain::cmdPing_Click() {
  std::string description;
  std::string source = kApplicationTitle;
  int number = 0;  // for a failure that carries no number of its own
  try {
    DOSOutputs& runner = Runner();
    runner.CommandLine(txtNombreHost.Text());
    runner.ExecuteCommand();
    return;
  } catch (const RunTimeError& failure) {
    description = failure.what();
    source = failure.Source();
    number = failure.Number();
  } catch (const std::bad_alloc&) {
    description = "Out of memory";
    number = 7;
  } catch (const std::system_error& failure) {
    description = failure.what();
    number = failure.code().value();
  } catch (const std::exception& failure) {
    description = failure.what();
  }
  boxes_.Show(description + " - " + source + " - " + std::to_string(number), MessageBoxIcon::kNone);
}

void frmMain::cmdTrace_Click() {}

void frmMain::objDOS_ReceiveOutputs(std::string_view CommandOutputs) {
  // Appending keeps each piece's cost to its own length, however long the
  // captured text has grown.
  txtSalida.AppendText(CommandOutputs);
  if (view_ != nullptr) view_->ProcessPendingEvents();
}

void frmMain::txtSalida_Change() { txtSalida.SetSelStart(txtSalida.Text().size()); }

void frmMain::ControlChanged(Control& control, std::string_view appended, bool append) {
  if (&control == &txtSalida) txtSalida_Change();
  if (view_ != nullptr) view_->TextChanged(control, appended, append);
}

}  // namespace quorvex
