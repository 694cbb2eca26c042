// What a security descriptor in SDDL means to Windows: converted with the
// system's own parser, each entry of its access list printed as
//   <A|D> <SID> <access mask, hex>
// one line each, in order. Exits 1 when Windows does not accept the text.
// The install run checks the installer's descriptors with it, as Wine stores
// none of them.
//
//   tessaro-sddlcheck SDDL
#include <windows.h>

#include <sddl.h>

#include <cstdio>

int wmain(int argc, wchar_t *argv[])
{
    if (argc != 2) {
        std::fputs("usage: tessaro-sddlcheck SDDL\n", stderr);
        return 2;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(argv[1], SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        std::fprintf(stderr, "not a security descriptor: error %lu\n", GetLastError());
        return 1;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present || !acl) {
        std::fputs("no access list\n", stderr);
        return 1;
    }
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void *ace = nullptr;
        if (!GetAce(acl, i, &ace))
            return 1;
        const auto *header = static_cast<ACE_HEADER *>(ace);
        // Allow and deny entries share their layout.
        const auto *entry = static_cast<ACCESS_ALLOWED_ACE *>(ace);
        const char kind = header->AceType == ACCESS_ALLOWED_ACE_TYPE  ? 'A'
                          : header->AceType == ACCESS_DENIED_ACE_TYPE ? 'D'
                                                                      : '?';
        wchar_t *sid = nullptr;
        if (!ConvertSidToStringSidW(const_cast<DWORD *>(&entry->SidStart), &sid))
            return 1;
        std::printf("%c %ls 0x%lx\n", kind, sid, static_cast<unsigned long>(entry->Mask));
        LocalFree(sid);
    }
    LocalFree(descriptor);
    return 0;
}
