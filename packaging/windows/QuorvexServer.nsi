; The Windows installer of Quorvex Server, made by makensis on the build
; machine (packaging/windows/windows.cmake), which defines:
;   VERSION     the product version
;   OUTFILE     the setup program to write
;   PROGRAMS    a script with the macros InstallPrograms and RemovePrograms:
;               the File and Delete lines of every program the build made
;   SOURCE_DIR  the source tree (settings example, schema script)
;
; It installs one program folder, registers the event source Quorvex with
; the job's own message table, and registers a scheduled task that starts
; the job every 15 minutes. Options besides NSIS's own /S and /D=:
;   /ACCOUNT=name    the account the task runs under (default SYSTEM)
;   /PASSWORD=text   that account's password; needed for an ordinary user,
;                    not for SYSTEM, LOCAL SERVICE, NETWORK SERVICE or a
;                    group managed service account (DOMAIN\name$)
; The settings file QuorvexServer.ini is never installed, changed or
; removed: the administrator makes it from QuorvexServer.ini.example.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include FileFunc.nsh
!include LogicLib.nsh
!include "${PROGRAMS}"

!define EVENT_SOURCE_KEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\Quorvex"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvex Server"
!define TASK_NAME "Quorvex Server"
!define TASK_XML "QuorvexServer.task.xml"

Name "Quorvex Server ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Quorvex"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Account
Var Password

Function .onInit
  SetRegView 64
  ${GetParameters} $0
  ${GetOptions} $0 "/ACCOUNT=" $Account
  ${If} $Account == ""
    StrCpy $Account "SYSTEM"
  ${EndIf}
  ${GetOptions} $0 "/PASSWORD=" $Password
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

; Writes the task's definition into the program folder (where it stays, so
; that the task can be registered again by hand) in UTF-16, as schtasks
; reads it. A password cannot be part of the definition: schtasks takes it.
Function WriteTaskDefinition
  ; The built-in service accounts log on without a password; a user or a
  ; group managed service account (name ending in $) logs on with one,
  ; given here or kept by the domain.
  StrCpy $1 "ServiceAccount"
  StrCpy $2 $Account 1 -1
  ${If} $Password != ""
  ${OrIf} $2 == "$$"
    StrCpy $1 "Password"
  ${EndIf}
  FileOpen $0 "$INSTDIR\${TASK_XML}" w
  FileWriteUTF16LE /BOM $0 '<?xml version="1.0" encoding="UTF-16"?>$\r$\n'
  FileWriteUTF16LE $0 '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n'
  FileWriteUTF16LE $0 '  <RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $0 '    <Description>Starts Quorvex Server every 15 minutes.</Description>$\r$\n'
  FileWriteUTF16LE $0 '  </RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $0 '  <Triggers>$\r$\n'
  FileWriteUTF16LE $0 '    <TimeTrigger>$\r$\n'
  FileWriteUTF16LE $0 '      <Repetition><Interval>PT15M</Interval></Repetition>$\r$\n'
  FileWriteUTF16LE $0 '      <StartBoundary>2024-01-01T00:00:00</StartBoundary>$\r$\n'
  FileWriteUTF16LE $0 '      <Enabled>true</Enabled>$\r$\n'
  FileWriteUTF16LE $0 '    </TimeTrigger>$\r$\n'
  FileWriteUTF16LE $0 '  </Triggers>$\r$\n'
  FileWriteUTF16LE $0 '  <Principals>$\r$\n'
  FileWriteUTF16LE $0 '    <Principal id="Author">$\r$\n'
  FileWriteUTF16LE $0 '      <UserId>$Account</UserId>$\r$\n'
  FileWriteUTF16LE $0 '      <LogonType>$1</LogonType>$\r$\n'
  FileWriteUTF16LE $0 '      <RunLevel>HighestAvailable</RunLevel>$\r$\n'
  FileWriteUTF16LE $0 '    </Principal>$\r$\n'
  FileWriteUTF16LE $0 '  </Principals>$\r$\n'
  ; A start while a run is still going is skipped (the job's own guard
  ; would refuse it anyway); a missed start is made up at once; a run that
  ; hangs is stopped after 10 minutes so that the next start can go ahead.
  FileWriteUTF16LE $0 '  <Settings>$\r$\n'
  FileWriteUTF16LE $0 '    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>$\r$\n'
  FileWriteUTF16LE $0 '    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>$\r$\n'
  FileWriteUTF16LE $0 '    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>$\r$\n'
  FileWriteUTF16LE $0 '    <StartWhenAvailable>true</StartWhenAvailable>$\r$\n'
  FileWriteUTF16LE $0 '    <Enabled>true</Enabled>$\r$\n'
  FileWriteUTF16LE $0 '    <ExecutionTimeLimit>PT10M</ExecutionTimeLimit>$\r$\n'
  FileWriteUTF16LE $0 '  </Settings>$\r$\n'
  FileWriteUTF16LE $0 '  <Actions Context="Author">$\r$\n'
  FileWriteUTF16LE $0 '    <Exec>$\r$\n'
  FileWriteUTF16LE $0 '      <Command>"$INSTDIR\QuorvexServer.exe"</Command>$\r$\n'
  FileWriteUTF16LE $0 '      <WorkingDirectory>$INSTDIR</WorkingDirectory>$\r$\n'
  FileWriteUTF16LE $0 '    </Exec>$\r$\n'
  FileWriteUTF16LE $0 '  </Actions>$\r$\n'
  FileWriteUTF16LE $0 '</Task>$\r$\n'
  FileClose $0
FunctionEnd

Section "Quorvex Server"
  SetOutPath "$INSTDIR"
  !insertmacro InstallPrograms
  File "${SOURCE_DIR}/packaging/QuorvexServer.ini.example"
  SetOutPath "$INSTDIR\sql\sqlserver"
  File "${SOURCE_DIR}/sql/sqlserver/schema.sql"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; Event Viewer reads the text of the job's entries from the job's own
  ; message table: information, warning and error entries.
  WriteRegExpandStr HKLM "${EVENT_SOURCE_KEY}" "EventMessageFile" "$INSTDIR\QuorvexServer.exe"
  WriteRegDWORD HKLM "${EVENT_SOURCE_KEY}" "TypesSupported" 7

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quorvex Server"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quorvex"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; The task replaces one left by an earlier installation.
  Call WriteTaskDefinition
  ${If} $Password == ""
    nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Create /F /TN "${TASK_NAME}" /XML "$INSTDIR\${TASK_XML}"'
  ${Else}
    nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Create /F /TN "${TASK_NAME}" /XML "$INSTDIR\${TASK_XML}" /RU "$Account" /RP "$Password"'
  ${EndIf}
  Pop $0
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONEXCLAMATION "The scheduled task $\"${TASK_NAME}$\" could not be registered (schtasks ended with $0). Register it with:$\r$\nschtasks /Create /TN $\"${TASK_NAME}$\" /XML $\"$INSTDIR\${TASK_XML}$\"" /SD IDOK
    SetErrorLevel 2
  ${EndIf}
SectionEnd

; Removes what the installation made and nothing else: the settings file,
; databases and whatever else the folder holds stay, and so does the folder
; then.
Section "Uninstall"
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Delete /F /TN "${TASK_NAME}"'
  Pop $0
  DeleteRegKey HKLM "${EVENT_SOURCE_KEY}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  !insertmacro RemovePrograms
  Delete "$INSTDIR\QuorvexServer.ini.example"
  Delete "$INSTDIR\${TASK_XML}"
  Delete "$INSTDIR\sql\sqlserver\schema.sql"
  RMDir "$INSTDIR\sql\sqlserver"
  RMDir "$INSTDIR\sql"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
