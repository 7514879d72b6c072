// Adds a DER certificate to the machine ROOT store of the Wine prefix it runs in, so the
// test patch server's authority is trusted there and nowhere else.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: import_root_ca CERT.der\n");
        return 2;
    }
    FILE* file = std::fopen(argv[1], "rb");
    if (!file) {
        std::fprintf(stderr, "import_root_ca: cannot open %s\n", argv[1]);
        return 1;
    }
    std::vector<unsigned char> der;
    unsigned char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) der.insert(der.end(), chunk, chunk + n);
    std::fclose(file);

    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
    if (!store) {
        std::fprintf(stderr, "import_root_ca: cannot open ROOT store (%lu)\n", GetLastError());
        return 1;
    }
    BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                  static_cast<DWORD>(der.size()),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        std::fprintf(stderr, "import_root_ca: cannot add certificate (%lu)\n", error);
        return 1;
    }
    return 0;
}
