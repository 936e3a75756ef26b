#include "tls_material_win32.h"

#include <algorithm>
#include <optional>
#include <span>
#include <vector>

namespace otel {

namespace {

// The DER of each PEM item labelled `label` ("CERTIFICATE") in `text`. The copies made on the
// way are wiped: the item may be a key.
std::vector<std::vector<BYTE>> pem_items(const std::string& text, const std::string& label) {
    std::vector<std::vector<BYTE>> items;
    const std::string begin = "-----BEGIN " + label + "-----", end = "-----END " + label + "-----";
    for (size_t at = text.find(begin); at != std::string::npos; at = text.find(begin, at)) {
        const size_t stop = text.find(end, at);
        if (stop == std::string::npos) break;
        std::string block = text.substr(at, stop + end.size() - at);
        DWORD size = 0;
        if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                                 CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
            std::vector<BYTE> der(size);
            if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                                     CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                                     nullptr)) {
                der.resize(size);
                items.push_back(std::move(der));
            }
        }
        SecureZeroMemory(block.data(), block.size());
        at = stop + end.size();
    }
    return items;
}

// The contents of the DER element at the front of `at`, which must have `tag`; `at` moves past
// it. Nothing when it is not there whole.
std::optional<std::span<const BYTE>> der_element(std::span<const BYTE>& at, BYTE tag) {
    if (at.size() < 2 || at[0] != tag) return std::nullopt;
    size_t length = at[1], header = 2;
    if ((length & 0x80) != 0) {
        const size_t count = length & 0x7F;
        if (count == 0 || count > 4 || at.size() < 2 + count) return std::nullopt;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = (length << 8) | at[2 + i];
        header += count;
    }
    if (at.size() - header < length) return std::nullopt;
    const auto contents = at.subspan(header, length);
    at = at.subspan(header + length);
    return contents;
}

// The PKCS#1 key inside a PKCS#8 PrivateKeyInfo of an RSA key; nothing for another kind.
std::optional<std::vector<BYTE>> rsa_in_pkcs8(std::span<const BYTE> der) {
    static constexpr BYTE rsa_encryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
    auto info = der_element(der, 0x30);
    if (!info || !der_element(*info, 0x02)) return std::nullopt;  // the version
    auto algorithm = der_element(*info, 0x30);
    const auto oid = algorithm ? der_element(*algorithm, 0x06) : std::nullopt;
    const auto key = der_element(*info, 0x04);
    if (!oid || !key || !std::ranges::equal(*oid, rsa_encryption)) return std::nullopt;
    return std::vector<BYTE>(key->begin(), key->end());
}

std::string hex_error(DWORD error) {
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(error));
    return text;
}

}  // namespace

tls_material::~tls_material() {
    // The client certificate's context holds the key set: freeing it releases the key.
    if (client != nullptr) CertFreeCertificateContext(client);
    if (engine != nullptr) CertFreeCertificateChainEngine(engine);
    if (roots != nullptr) CertCloseStore(roots, 0);
}

std::string tls_material::load_roots(const std::string& text) {
    roots = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (roots == nullptr) return "no certificate store: error " + hex_error(GetLastError());
    for (const auto& der : pem_items(text, "CERTIFICATE")) {
        CertAddEncodedCertificateToStore(roots, X509_ASN_ENCODING, der.data(),
                                         static_cast<DWORD>(der.size()), CERT_STORE_ADD_ALWAYS,
                                         nullptr);
    }
    const PCCERT_CONTEXT first = CertEnumCertificatesInStore(roots, nullptr);
    if (first == nullptr) {
        return "the CA file '" + files.certificate + "' holds no certificate Windows can read";
    }
    CertFreeCertificateContext(first);
    // These alone as trust anchors, a CA that is no root among them (Windows 8 and later).
    // Where that engine cannot be made (Windows 7, Wine) the default engine builds the chain,
    // and check_server verifies it up to one of these itself.
    CERT_CHAIN_ENGINE_CONFIG config{};
    config.cbSize = sizeof config;
    config.hExclusiveRoot = roots;
    config.dwExclusiveFlags = CERT_CHAIN_EXCLUSIVE_ENABLE_CA_FLAG;
    if (!CertCreateCertificateChainEngine(&config, &engine)) engine = nullptr;
    return {};
}

std::string tls_material::load_client(const std::string& certificate_text,
                                      const std::string& key_text) {
    const auto certificates = pem_items(certificate_text, "CERTIFICATE");
    if (!certificates.empty()) {
        client = CertCreateCertificateContext(X509_ASN_ENCODING, certificates[0].data(),
                                              static_cast<DWORD>(certificates[0].size()));
    }
    if (client == nullptr) {
        return "the client certificate '" + files.client_certificate +
               "' holds no certificate Windows can read";
    }
    const std::string key_name = "the client key '" + files.client_key + "'";
    // An RSA key: PKCS#1 as it is, or inside PKCS#8 (read here: not every crypt32 decodes
    // PKCS_PRIVATE_KEY_INFO).
    auto rsa = pem_items(key_text, "RSA PRIVATE KEY");
    if (rsa.empty()) {
        for (auto& der : pem_items(key_text, "PRIVATE KEY")) {
            if (auto key = rsa_in_pkcs8(der)) rsa.push_back(std::move(*key));
            SecureZeroMemory(der.data(), der.size());
        }
    }
    if (rsa.empty()) {
        return key_name + " is no RSA key in PKCS#1 or unencrypted PKCS#8 PEM, the kinds " +
               "the agent can load on Windows";
    }
    BYTE* blob = nullptr;
    DWORD blob_size = 0;
    const bool decoded = CryptDecodeObjectEx(
        X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS_RSA_PRIVATE_KEY, rsa[0].data(),
        static_cast<DWORD>(rsa[0].size()), CRYPT_DECODE_ALLOC_FLAG, nullptr, &blob, &blob_size);
    for (auto& der : rsa) SecureZeroMemory(der.data(), der.size());
    if (!decoded) return key_name + " cannot be decoded: error " + hex_error(GetLastError());
    // An ephemeral key set: in the process's memory only, never in a key container of the
    // user's (none is needed, nor a loaded profile), gone when the certificate's context is
    // freed or the process ends, however it ends. The key cannot be exported.
    HCRYPTPROV provider = 0;
    HCRYPTKEY key = 0;
    bool imported = CryptAcquireContextW(&provider, nullptr, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                                         CRYPT_VERIFYCONTEXT | CRYPT_SILENT) &&
                    CryptImportKey(provider, blob, blob_size, 0, 0, &key);
    DWORD error = GetLastError();
    SecureZeroMemory(blob, blob_size);
    LocalFree(blob);
    if (key != 0) CryptDestroyKey(key);  // the key pair stays in the key set
    CERT_KEY_CONTEXT held{};
    held.cbSize = sizeof held;
    held.hCryptProv = provider;
    held.dwKeySpec = AT_KEYEXCHANGE;
    // The context takes the key set over, and releases it when it is freed.
    if (imported &&
        !CertSetCertificateContextProperty(client, CERT_KEY_CONTEXT_PROP_ID, 0, &held)) {
        imported = false;
        error = GetLastError();
    }
    if (!imported) {
        if (provider != 0) CryptReleaseContext(provider, 0);
        return key_name + " cannot be imported: error " + hex_error(error);
    }
    return {};
}

std::unique_ptr<tls_material> load_tls(const tls_files& files, std::string& problem) {
    problem = common_tls_problem(files);
    if (!problem.empty()) return nullptr;
    auto material = std::make_unique<tls_material>();
    material->files = files;
    if (!files.certificate.empty())
        problem = material->load_roots(read_small_file(files.certificate).value_or(""));
    if (problem.empty() && !files.client_certificate.empty()) {
        std::string key = read_small_file(files.client_key).value_or("");
        problem =
            material->load_client(read_small_file(files.client_certificate).value_or(""), key);
        SecureZeroMemory(key.data(), key.size());
    }
    if (!problem.empty()) return nullptr;
    return material;
}

namespace {

// Whether `cert` is, byte for byte, one of the CA file's certificates. (Matching the issuer and
// serial number, as CERT_FIND_EXISTING and CertCompareCertificate do, would let a certificate
// of the same name and number but another key pass.)
bool in_ca_file(const tls_material& tls, PCCERT_CONTEXT cert) {
    const std::span<const BYTE> encoded(cert->pbCertEncoded, cert->cbCertEncoded);
    for (PCCERT_CONTEXT known = CertEnumCertificatesInStore(tls.roots, nullptr); known != nullptr;
         known = CertEnumCertificatesInStore(tls.roots, known)) {
        if (std::ranges::equal(encoded,
                               std::span<const BYTE>(known->pbCertEncoded, known->cbCertEncoded))) {
            CertFreeCertificateContext(known);
            return true;
        }
    }
    return false;
}

bool is_ca(PCCERT_CONTEXT cert) {
    const CERT_INFO& info = *cert->pCertInfo;
    const PCERT_EXTENSION extension =
        CertFindExtension(szOID_BASIC_CONSTRAINTS2, info.cExtension, info.rgExtension);
    CERT_BASIC_CONSTRAINTS2_INFO constraints{};
    DWORD size = sizeof constraints;
    return extension != nullptr &&
           CryptDecodeObjectEx(X509_ASN_ENCODING, X509_BASIC_CONSTRAINTS2, extension->Value.pbData,
                               extension->Value.cbData, 0, nullptr, &constraints, &size) &&
           constraints.fCA;
}

// Why the chain does not lead from the collector's certificate to a certificate of the CA file,
// each certificate signed with the key of the next, every one valid now and every one between
// them a CA; empty when it does. Checked here whatever the chain engine says of it.
std::string chain_problem(const CERT_CHAIN_CONTEXT& chain, const tls_material& tls) {
    if (chain.cChain != 1 || chain.rgpChain[0]->cElement == 0)
        return "not issued by a CA of the CA file";
    const CERT_SIMPLE_CHAIN& simple = *chain.rgpChain[0];
    const DWORD last = simple.cElement - 1;
    if (!in_ca_file(tls, simple.rgpElement[last]->pCertContext)) {
        return "not issued by a CA of the CA file";
    }
    for (DWORD i = 0; i <= last; ++i) {
        const PCCERT_CONTEXT cert = simple.rgpElement[i]->pCertContext;
        if (CertVerifyTimeValidity(nullptr, cert->pCertInfo) != 0) {
            return i == 0 ? "expired or not yet valid"
                          : "issued by a CA that is expired or not yet valid";
        }
        if (i == last) break;
        const PCCERT_CONTEXT issuer = simple.rgpElement[i + 1]->pCertContext;
        if (!CryptVerifyCertificateSignatureEx(
                0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
                const_cast<CERT_CONTEXT*>(cert), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                const_cast<CERT_CONTEXT*>(issuer), 0, nullptr)) {
            return "not signed by the CA it names";
        }
        if (i + 1 < last && !is_ca(issuer)) return "issued by a certificate that is no CA";
    }
    return {};
}

// The SSL policy's verdict on the chain for `host`; 0 when it passes. With an engine of the CA
// file's roots alone nothing is ignored; with the default engine (which knows the system's CAs
// and not the file's) only an unknown root is, the root having been checked by chain_problem.
DWORD ssl_policy(const CERT_CHAIN_CONTEXT* chain, const tls_material& tls,
                 const std::wstring& host) {
    HTTPSPolicyCallbackData extra{};
    extra.cbStruct = sizeof extra;
    extra.dwAuthType = AUTHTYPE_SERVER;
    extra.pwszServerName = const_cast<wchar_t*>(host.c_str());
    extra.fdwChecks = tls.engine != nullptr ? 0 : SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &extra;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
        return GetLastError() != 0 ? GetLastError() : static_cast<DWORD>(CERT_E_CHAINING);
    }
    if (status.dwError != 0) return status.dwError;
    // The engine's own findings, which the policy may leave out.
    const DWORD allowed = tls.engine != nullptr ? 0 : CERT_TRUST_IS_UNTRUSTED_ROOT;
    return (chain->TrustStatus.dwErrorStatus & ~allowed) != 0 ? static_cast<DWORD>(CERT_E_CHAINING)
                                                              : 0;
}

}  // namespace

std::string check_server(HINTERNET handle, const tls_material& tls, const std::wstring& host) {
    PCCERT_CONTEXT server = nullptr;
    DWORD size = sizeof server;
    if (!WinHttpQueryOption(handle, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &server, &size) ||
        server == nullptr) {
        return "the collector's certificate cannot be read: error " + hex_error(GetLastError());
    }
    char server_auth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {server_auth};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    std::string problem;
    // The chain may use what the server sent and the CA file.
    HCERTSTORE stores = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
    if (stores != nullptr) {
        CertAddStoreToCollection(stores, server->hCertStore, 0, 0);
        CertAddStoreToCollection(stores, tls.roots, 0, 0);
    }
    if (stores == nullptr ||
        !CertGetCertificateChain(tls.engine, server, nullptr, stores, &para,
                                 CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, &chain)) {
        problem = "no chain for the collector's certificate: error " + hex_error(GetLastError());
    } else {
        std::string reason = chain_problem(*chain, tls);
        if (reason.empty()) {
            const DWORD error = ssl_policy(chain, tls, host);
            if (error != 0) {
                reason =
                    error == static_cast<DWORD>(CERT_E_CN_NO_MATCH) ? "issued for another host name"
                    : error == static_cast<DWORD>(CERT_E_EXPIRED)   ? "expired or not yet valid"
                    : error == static_cast<DWORD>(CERT_E_WRONG_USAGE) ? "not meant for a server"
                                                                      : "refused";
                reason += " (" + hex_error(error) + ")";
            }
        }
        if (!reason.empty()) problem = "the collector's certificate is " + reason;
        CertFreeCertificateChain(chain);
    }
    if (stores != nullptr) CertCloseStore(stores, 0);
    CertFreeCertificateContext(server);
    return problem;
}

}  // namespace otel
