// The judgements of who may change or read a file, on Windows security
// descriptors built here from their text form, against what Windows itself
// grants for each: the task's account is S-1-5-21-1-2-3-1001.
#include <windows.h>
// After windows.h, which it needs.
#include <gtest/gtest.h>
#include <sddl.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/access_judgement.h"

namespace quorvex {
namespace {

constexpr GuardedAccess kChange = GuardedAccess::kChange;
constexpr GuardedAccess kMove = GuardedAccess::kMoveEntries;
constexpr GuardedAccess kRead = GuardedAccess::kRead;

// Each row: the access guarded, the descriptor, and how the answer begins
// (empty: nobody else holds that access).
struct Row {
  const char* name;
  GuardedAccess access;
  const wchar_t* sddl;
  const char* verdict;
  // Given: the list is one entry of this kind granting full control to
  // this account, built by hand: wine's parser reads neither conditions
  // ("(XA;;FA;;;WD;(Member_of {SID(BA)}))") nor object types.
  const wchar_t* account = nullptr;
  BYTE kind = 0;
  DWORD object_flags = 0;
};

constexpr char kChanged[] = "may be changed by ";
constexpr char kOwned[] = "belongs to ";
constexpr char kReadBy[] = "may be read by ";

const Row kRows[] = {
    {"installed", kChange, L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)", ""},
    {"task's account", kChange, L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;S-1-5-21-1-2-3-1001)", ""},
    {"TrustedInstaller", kChange,
     L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FA;;;SY)", ""},
    {"owner Users", kChange, L"O:BUD:(A;;FA;;;SY)", kOwned},
    {"no access list", kChange, L"O:SY", "has no access list, so everyone may change it"},
    {"write data", kChange, L"O:SYD:(A;;0x2;;;BU)", kChanged},
    {"append data", kChange, L"O:SYD:(A;;0x4;;;BU)", kChanged},
    {"write extended attributes", kChange, L"O:SYD:(A;;0x10;;;BU)", kChanged},
    {"write attributes", kChange, L"O:SYD:(A;;0x100;;;BU)", kChanged},
    {"delete child", kChange, L"O:SYD:(A;;0x40;;;BU)", kChanged},
    {"delete", kChange, L"O:SYD:(A;;SD;;;BU)", kChanged},
    {"permissions", kChange, L"O:SYD:(A;;WD;;;BU)", kChanged},
    {"owner change", kChange, L"O:SYD:(A;;WO;;;BU)", kChanged},
    {"generic write", kChange, L"O:SYD:(A;;GW;;;BU)", kChanged},
    {"generic all", kChange, L"O:SYD:(A;;GA;;;WD)", kChanged},
    {"conditional", kChange, L"O:SYD:", kChanged, L"WD", ACCESS_ALLOWED_CALLBACK_ACE_TYPE},
    {"object", kChange, L"O:SYD:", kChanged, L"AU", ACCESS_ALLOWED_OBJECT_ACE_TYPE,
     ACE_OBJECT_TYPE_PRESENT},
    {"object, both types", kChange, L"O:SYD:", kChanged, L"AU", ACCESS_ALLOWED_OBJECT_ACE_TYPE,
     ACE_OBJECT_TYPE_PRESENT | ACE_INHERITED_OBJECT_TYPE_PRESENT},
    {"conditional object", kChange, L"O:SYD:", kChanged, L"BU",
     ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE, ACE_INHERITED_OBJECT_TYPE_PRESENT},
    {"read and run", kChange, L"O:SYD:(A;;FRFX;;;BU)", ""},
    {"for children only", kChange, L"O:SYD:(A;OICIIO;FA;;;BU)", ""},
    {"denied", kChange, L"O:SYD:(D;;FA;;;BU)", ""},
    {"owner rights", kChange, L"O:SYD:(A;;FA;;;OW)", ""},
    // A drive root where users may make folders, and a folder above whose
    // entries they may rename or remove.
    {"drive root", kMove,
     L"O:SYD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;;0x4;;;AU)"
     L"(A;OICIIO;SDGXGWGR;;;AU)(A;CI;0x2;;;BU)",
     ""},
    {"generic write above", kMove, L"O:SYD:(A;;GW;;;BU)", ""},
    {"delete child above", kMove, L"O:SYD:(A;;0x40;;;AU)", kChanged},
    {"delete above", kMove, L"O:SYD:(A;;SD;;;AU)", kChanged},
    {"permissions above", kMove, L"O:SYD:(A;;WD;;;AU)", kChanged},
    {"owner above", kMove, L"O:AUD:(A;;FA;;;SY)", kOwned},
    {"private", kRead, L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;S-1-5-21-1-2-3-1001)", ""},
    {"Users", kRead, L"O:SYD:(A;;FR;;;BU)", kReadBy},
    {"LOCAL", kRead, L"O:SYD:(A;;FR;;;S-1-2-0)", kReadBy},
    {"NETWORK", kRead, L"O:SYD:(A;;0x1;;;NU)", kReadBy},
    {"Domain Users", kRead, L"O:SYD:(A;;GR;;;S-1-5-21-1-2-3-513)", kReadBy},
    {"a named user", kRead, L"O:SYD:(A;;FR;;;S-1-5-21-1-2-3-1002)", kReadBy},
    {"conditional reader", kRead, L"O:SYD:", kReadBy, L"AU", ACCESS_ALLOWED_CALLBACK_ACE_TYPE},
    {"owner a user", kRead, L"O:S-1-5-21-1-2-3-1002D:(A;;FA;;;SY)", kOwned},
    {"run only", kRead, L"O:SYD:(A;;0x20;;;BU)", ""},
    {"no access list to read", kRead, L"O:SY", "has no access list, so everyone may read it"},
};

// An allowing entry as Windows lays it out: header, mask, for the object
// kinds their flags and the types they say are present, the SID, then for
// the callback kinds the condition ("artx" and an expression, empty here).
void AddEntry(PACL acl, BYTE kind, DWORD object_flags, PSID sid) {
  std::vector<BYTE> entry(sizeof(ACE_HEADER));
  const auto append = [&entry](const void* bytes, std::size_t size) {
    const auto* from = static_cast<const BYTE*>(bytes);
    entry.insert(entry.end(), from, from + size);
  };
  const ACCESS_MASK mask = FILE_ALL_ACCESS;
  append(&mask, sizeof mask);
  const bool object =
      kind == ACCESS_ALLOWED_OBJECT_ACE_TYPE || kind == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
  if (object) {
    const GUID type{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    append(&object_flags, sizeof object_flags);
    if (object_flags & ACE_OBJECT_TYPE_PRESENT) append(&type, sizeof type);
    if (object_flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) append(&type, sizeof type);
  }
  append(sid, GetLengthSid(sid));
  if (kind == ACCESS_ALLOWED_CALLBACK_ACE_TYPE || kind == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE)
    append("artx", 4);
  auto* header = reinterpret_cast<ACE_HEADER*>(entry.data());
  header->AceType = kind;
  header->AceSize = static_cast<WORD>(entry.size());
  ASSERT_TRUE(AddAce(acl, object ? ACL_REVISION_DS : ACL_REVISION, MAXDWORD, entry.data(),
                     static_cast<DWORD>(entry.size())))
      << GetLastError();
}

TEST(WriteAccessTest, JudgesDescriptorsAsWindowsDoes) {
  PSID task = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-21-1-2-3-1001", &task));
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(row.sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr))
        << GetLastError();
    SECURITY_DESCRIPTOR built;
    alignas(DWORD) BYTE acl[256];
    PSID account = nullptr;
    void* judged = descriptor;
    if (row.account != nullptr) {
      ASSERT_TRUE(ConvertStringSidToSidW(row.account, &account));
      PSID owner = nullptr;
      BOOL defaulted = FALSE;
      GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
      ASSERT_TRUE(InitializeAcl(reinterpret_cast<PACL>(acl), sizeof acl, ACL_REVISION_DS));
      AddEntry(reinterpret_cast<PACL>(acl), row.kind, row.object_flags, account);
      InitializeSecurityDescriptor(&built, SECURITY_DESCRIPTOR_REVISION);
      SetSecurityDescriptorOwner(&built, owner, FALSE);
      SetSecurityDescriptorDacl(&built, TRUE, reinterpret_cast<PACL>(acl), FALSE);
      judged = &built;
    }
    const std::string verdict = WhyOthersHave(row.access, judged, task);
    LocalFree(account);
    LocalFree(descriptor);
    EXPECT_TRUE(*row.verdict ? verdict.starts_with(row.verdict) : verdict.empty()) << verdict;
  }
  LocalFree(task);
}

}  // namespace
}  // namespace quorvex
