// GetPingTimbrado: every active server of the stamping service gets its
// latency, or -1, in St_Ping.
//
// The selected rows are all read before the first UPDATE runs (the session
// serves one statement at a time), but each row is still handled on its own
// and in the order delivered: a row that cannot be handled ends the sweep
// there, with the rows before it updated and the rows after it untouched.
// The same holds for the rows left when the sweep's share of the run's
// time runs out (job/run_deadline.h).
#include <exception>
#include <string>

#include "eventlog/log.h"
#include "platform/child_process.h"
#include "probe/reply_text.h"
#include "text/locale_number.h"
#include "ui/frm_main.h"
#include "util/string_util.h"

namespace quorvex {

double frmMain::SystemPingResp(const std::string& host) {
  txtSalida.SetText({});
  DOSOutputs& runner = Runner();
  runner.CommandLine("ping " + TrimSpaces(host));
  // The line names ping; the file started is the system's own (on Linux
  // the stand-in beside the program), judged like the other tools.
  const std::string program = SystemPingPath(run_.ProgramFolder);
  if (program.empty()) {
    LogErrorOncePerRun(
        "SystemPingResp",
        "The ping program was not found: with PING-MODE " + std::to_string(run_.Settings.PingMode) +
            " the sweep starts only " + SystemPingLocation(run_.ProgramFolder) +
            ", and there is none there that can be started; no tool was started, and every "
            "server gets -1 in this run. Reinstall the package, which puts it there, or set "
            "PING-MODE to 1 (tcping.exe) or 2 (psping.exe)");
    return -1;
  }
  if (RefuseReplaceableTool("SystemPingResp", program)) return -1;
  runner.ExecuteProgram(program);
  std::string reply = TrimSpaces(GetTextBetween(txtSalida.Text(), "Media =", "ms"));
  if (reply.empty()) reply = "-1";
  return IsNumeric(reply) ? ToDouble(reply) : -1;
}

void frmMain::GetPingTimbrado() {
  std::string& sql = run_.SqlText;
  try {
    sql.clear();
    sql += "SELECT St_ID, ";
    sql += "   St_Url ";
    sql += "FROM Servidor_Timbrado ";
    sql += "WHERE Es_Cve_Estado <> 'BA' ";
    if (!run_.DbConnection) throw RunTimeError(kErrObjectNotSet, kErrObjectNotSetText);
    RowSet servers = run_.DbConnection->Execute(sql);
    SweepSummary& summary = run_.Summary.sweep;
    summary.selected = static_cast<std::int64_t>(servers.RowCount());
    for (std::size_t done = 0; !servers.Eof(); ++done) {
      // The reports come after the sweep and keep their share of the run's
      // time: once the sweep's own is nearly used up, it starts no more
      // tools, and the servers left keep their last measurement.
      if (run_.Deadline.SweepLeft() < run_.Deadline.Share(RunDeadline::kShortestTool)) {
        LogWarning("GetPingTimbrado()\r\nThe run's time for measuring is used up: " +
                   std::to_string(servers.RowCount() - done) + " of " +
                   std::to_string(servers.RowCount()) +
                   " servers were not measured in this run and keep their last St_Ping");
        summary.out_of_time = static_cast<std::int64_t>(servers.RowCount() - done);
        break;
      }
      const FieldValue& url = servers.Field("St_Url");
      if (!url) throw RunTimeError(kErrInvalidUseOfNull, kErrInvalidUseOfNullText);
      const std::string host = HostFromUrl(*url);
      double latency = -1;
      if (bCheckConnection(*url)) {
        switch (run_.Settings.PingMode) {
          case 1:
            latency = TcPingResp(host);
            break;
          case 2:
            latency = PsPingResp(host);
            break;
          default:
            latency = SystemPingResp(host);
            break;
        }
      }
      const FieldValue& id = servers.Field("St_ID");
      sql.clear();
      sql += "UPDATE Servidor_Timbrado SET ";
      sql += "   St_Ping = ";
      sql += SqlNumber(latency);
      sql += " ";
      sql += "WHERE St_ID = '";
      sql += SqlQuoted(id ? *id : std::string());
      sql += "' ";
      run_.DbConnection->Execute(sql);
      summary.Record(id ? *id : std::string(), latency);
      servers.MoveNext();
    }
  } catch (const std::exception& failure) {
    LogError(EntryText("GetPingTimbrado", failure.what()));
  }
}

}  // namespace quorvex
