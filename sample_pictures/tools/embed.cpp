// Build-time helper that turns files into byte arrays:
//   scan39_embed OUT.cpp NAME=FILE...
// defines, in namespace scan39::samples::detail, `const unsigned char NAME[]` and
// `const std::size_t NAMESize` for every file.

#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    if (in.bad()) throw std::runtime_error("cannot read " + path);
    return bytes;
}

bool IsIdentifier(const std::string& name) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
    for (const char c : name) {
        const bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) return false;
    }
    return true;
}

void Emit(std::ostream& out, const std::string& name, const std::vector<unsigned char>& bytes) {
    // A zero-length array is not valid C++; an empty file still gets one byte of storage.
    out << "extern const unsigned char " << name << "[];\n"
        << "const unsigned char " << name << "[] = {";
    if (bytes.empty()) out << "0";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 24 == 0) out << "\n";
        out << static_cast<unsigned>(bytes[i]) << ",";
    }
    out << "\n};\n"
        << "extern const std::size_t " << name << "Size;\n"
        << "const std::size_t " << name << "Size = " << bytes.size() << ";\n\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT.cpp NAME=FILE...\n", argc > 0 ? argv[0] : "embed");
        return 2;
    }
    try {
        std::ostringstream text;
        text << "// Generated at build time from picture files; do not edit.\n"
             << "#include <cstddef>\n\n"
             << "namespace scan39::samples::detail {\n\n";
        for (int i = 2; i < argc; ++i) {
            const std::string arg = argv[i];
            const auto eq = arg.find('=');
            if (eq == std::string::npos || !IsIdentifier(arg.substr(0, eq))) {
                throw std::invalid_argument("expected NAME=FILE, got " + arg);
            }
            Emit(text, arg.substr(0, eq), ReadFile(arg.substr(eq + 1)));
        }
        text << "}  // namespace scan39::samples::detail\n";

        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        out << text.str();
        out.close();
        if (!out) throw std::runtime_error(std::string("cannot write ") + argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "embed: %s\n", e.what());
        return 1;
    }
    return 0;
}
