// installer_probe.exe: the installer test's hands inside wine.
//   installer_probe rights SID PATH   prints, in hex, the rights that the
//                                     access list of PATH allows SID
//                                     (read with GetNamedSecurityInfoW)
//   installer_probe run LINE          starts LINE as the command line it
//                                     is (no quoting added), waits, and
//                                     ends with its exit status
//   anything else                     copied in as schtasks.exe: appends
//                                     its arguments, as the system splits
//                                     them, one per line to the file that
//                                     QUORVEX_SCHTASKS_LOG names
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int Rights(const wchar_t* sid_text, const wchar_t* path) {
  PSID sid = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSidToSidW(sid_text, &sid) ||
      GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return 1;
  }
  ACCESS_MASK rights = dacl == nullptr ? GENERIC_ALL : 0;
  for (WORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) &&
        ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
        (ace->Header.AceFlags & INHERIT_ONLY_ACE) == 0 && EqualSid(&ace->SidStart, sid)) {
      rights |= ace->Mask;
    }
  }
  std::printf("0x%lx\n", rights);
  LocalFree(descriptor);
  LocalFree(sid);
  return 0;
}

int Run(const wchar_t* line) {
  std::wstring writable = line;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &child)) {
    return 127;
  }
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(child.hProcess, &status);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return static_cast<int>(status);
}

int Record(int argc, wchar_t** argv) {
  const wchar_t* log = _wgetenv(L"QUORVEX_SCHTASKS_LOG");
  FILE* out = log == nullptr ? nullptr : _wfopen(log, L"ab");
  if (out == nullptr) return 1;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    std::string utf8(WideCharToMultiByte(CP_UTF8, 0, arg.c_str(), -1, nullptr, 0, nullptr, nullptr),
                     '\0');
    WideCharToMultiByte(CP_UTF8, 0, arg.c_str(), -1, utf8.data(), static_cast<int>(utf8.size()),
                        nullptr, nullptr);
    std::fprintf(out, "%s\n", utf8.c_str());
  }
  std::fclose(out);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring verb = argc > 1 ? argv[1] : L"";
  if (verb == L"rights" && argc == 4) return Rights(argv[2], argv[3]);
  if (verb == L"run" && argc == 3) return Run(argv[2]);
  return Record(argc, argv);
}
