#include "Manifest.h"

#include <openssl/evp.h>

#include "Messages.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <new>

namespace tessera::cli {

struct Sha256::Context {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : context_(std::make_unique<Context>())
{
    if (context_->ctx == nullptr || EVP_DigestInit_ex(context_->ctx, EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size)
{
    EVP_DigestUpdate(context_->ctx, data, size);
}

std::string Sha256::Finish()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_->ctx, digest, &length);
    EVP_DigestInit_ex(context_->ctx, EVP_sha256(), nullptr);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

std::string FormatManifestLine(const ManifestLine& line)
{
    if (line.name.find_first_of("\\\n") == std::string::npos)
        return line.digest + "  " + line.name + "\n";
    std::string name;
    for (char c : line.name) {
        if (c == '\\')
            name += "\\\\";
        else if (c == '\n')
            name += "\\n";
        else
            name += c;
    }
    return "\\" + line.digest + "  " + name + "\n";
}

namespace {

bool IsDigest(const std::string& text)
{
    return text.size() == 64 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// Undoes FormatManifestLine's escapes; false for an escape it never writes.
bool Unescape(std::string& name)
{
    std::string plain;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '\\') {
            plain += name[i];
            continue;
        }
        if (++i == name.size())
            return false;
        if (name[i] == '\\')
            plain += '\\';
        else if (name[i] == 'n')
            plain += '\n';
        else
            return false;
    }
    name = std::move(plain);
    return true;
}

}  // namespace

ManifestRead ReadManifest(const std::string& path)
{
    ManifestRead read;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        read.error = WithError("cannot open " + Quoted(path), errno);
        return read;
    }
    std::string text;
    for (std::size_t number = 1; std::getline(in, text); ++number) {
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        if (text.empty())
            continue;
        const bool escaped = text.front() == '\\';
        const std::size_t at = escaped ? 1 : 0;
        ManifestLine line;
        line.digest = text.substr(at, 64);
        // Two spaces (text mode) or a space and '*' (binary mode).
        const bool separated = text.size() > at + 66 && text[at + 64] == ' ' &&
                               (text[at + 65] == ' ' || text[at + 65] == '*');
        if (separated)
            line.name = text.substr(at + 66);
        if (!IsDigest(line.digest) || !separated || (escaped && !Unescape(line.name))) {
            read.error = path + ":" + std::to_string(number) + ": no SHA-256 checksum line";
            read.lines.clear();
            return read;
        }
        for (char& c : line.digest)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        read.lines.push_back(std::move(line));
    }
    if (in.bad())
        read.error = "cannot read " + Quoted(path);
    return read;
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ManifestPath(const std::string& source, const std::string& partFolder)
{
    const std::string folder = partFolder.empty() ? FolderOf(source) : partFolder;
    const std::string name = NameOf(source) + ".sha256";
    if (partFolder.empty() && source.find('/') == std::string::npos)
        return name;
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

std::string ResolveFromManifest(const std::string& manifest, const std::string& name)
{
    if (name.starts_with('/') || manifest.find('/') == std::string::npos)
        return name;
    const std::string folder = FolderOf(manifest);
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

}  // namespace tessera::cli
