// Build-time tool of the host build: reads the .res file that windres makes
// from the program's .rc script and writes a C++ source holding the host's
// resource table, winsim::program_resources().
//
//   res_embed <input.res> <output.cpp>
//
// The resource bytes are not copied into the source: each entry becomes an
// `.incbin "input.res", offset, size` directive, so the assembler reads them
// straight from the .res file and a package of tens of megabytes costs no
// more than its copy. Strings, version block, manifest and icons are thereby
// exactly what the Windows build compiles from the same script.
//
// A .res file is a sequence of entries, each aligned to 4 bytes:
//   DWORD DataSize, DWORD HeaderSize,
//   TYPE and NAME (each 0xFFFF followed by a WORD ordinal, or a
//   NUL-terminated UTF-16LE name), padding to 4 bytes,
//   DWORD DataVersion, WORD MemoryFlags, WORD LanguageId,
//   DWORD Version, DWORD Characteristics,
//   then DataSize bytes of data.
// The first entry is an empty marker (DataSize 0, type and name ordinal 0).

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Entry {
    std::u16string type_name;  // empty when the type is an ordinal
    unsigned type_id = 0;
    unsigned id = 0;
    unsigned language = 0;
    std::uint64_t offset = 0;  // of the data, from the start of the file
    std::uint32_t size = 0;
};

std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::uint16_t le16(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }

// Reads one TYPE or NAME field at *pos inside the header; advances *pos.
void read_name_or_ordinal(const std::vector<unsigned char>& header, std::size_t* pos,
                          std::u16string* name, unsigned* ordinal) {
    auto need = [&](std::size_t n) {
        if (*pos + n > header.size()) throw std::runtime_error("resource header is truncated");
    };
    need(2);
    if (le16(&header[*pos]) == 0xFFFF) {
        need(4);
        *ordinal = le16(&header[*pos + 2]);
        *pos += 4;
        return;
    }
    for (;;) {
        need(2);
        char16_t c = le16(&header[*pos]);
        *pos += 2;
        if (c == 0) break;
        name->push_back(c);
    }
}

std::vector<Entry> parse(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    in.seekg(0, std::ios::end);
    const std::uint64_t file_size = static_cast<std::uint64_t>(in.tellg());
    std::vector<Entry> entries;
    std::uint64_t at = 0;
    while (at + 8 <= file_size) {
        unsigned char fixed[8];
        in.seekg(static_cast<std::streamoff>(at));
        if (!in.read(reinterpret_cast<char*>(fixed), 8)) throw std::runtime_error("read failed");
        const std::uint32_t data_size = le32(fixed);
        const std::uint32_t header_size = le32(fixed + 4);
        if (header_size < 32 || at + header_size > file_size ||
            at + header_size + data_size > file_size)
            throw std::runtime_error("malformed resource entry at offset " + std::to_string(at));
        std::vector<unsigned char> header(header_size - 8);
        if (!in.read(reinterpret_cast<char*>(header.data()), static_cast<std::streamsize>(header.size())))
            throw std::runtime_error("read failed");

        Entry e;
        std::u16string name;
        unsigned name_id = 0;
        std::size_t pos = 0;
        read_name_or_ordinal(header, &pos, &e.type_name, &e.type_id);
        read_name_or_ordinal(header, &pos, &name, &name_id);
        pos = (pos + 8 + 3) / 4 * 4 - 8;  // the header aligns to 4 bytes from the entry's start
        if (pos + 16 > header.size()) throw std::runtime_error("resource header is truncated");
        e.language = le16(&header[pos + 6]);
        e.offset = at + header_size;
        e.size = data_size;

        const bool marker = data_size == 0 && e.type_name.empty() && e.type_id == 0;
        if (!marker) {
            if (!name.empty())
                throw std::runtime_error("resource names must be integer identifiers");
            e.id = name_id;
            entries.push_back(e);
        }
        at = (at + header_size + data_size + 3) / 4 * 4;
    }
    return entries;
}

// Quotes text for the assembler's string syntax.
std::string asm_quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Quotes text as a C++ narrow string literal.
std::string cpp_quoted(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%03o", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// A wide literal with one element per UTF-16 code unit, as the host keeps
// wide strings.
std::string wide_literal(const std::u16string& s) {
    std::string out = "L\"";
    for (char16_t c : s) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\x%04X\"L\"", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out + "\"";
}

std::string generate(const std::string& res_path, const std::vector<Entry>& entries) {
    std::ostringstream asm_text;
    asm_text << ".pushsection .rodata.sablewick_resources,\"a\",@progbits\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        asm_text << ".balign 16\n"
                 << "sablewick_resource_" << i << ":\n";
        if (entries[i].size != 0)
            asm_text << ".incbin " << asm_quoted(res_path) << ", " << entries[i].offset << ", "
                     << entries[i].size << "\n";
    }
    asm_text << ".popsection\n";

    std::ostringstream out;
    out << "// Generated by res_embed from " << res_path << "; do not edit.\n"
        << "#include \"platform/winsim/embedded_resources.h\"\n\n";
    out << "__asm__(\n";
    std::istringstream lines(asm_text.str());
    for (std::string line; std::getline(lines, line);) out << "    " << cpp_quoted(line + "\n") << "\n";
    out << ");\n\n";
    for (std::size_t i = 0; i < entries.size(); ++i)
        out << "extern \"C\" const unsigned char sablewick_resource_" << i << "[];\n";
    out << "\nnamespace {\n\nconst winsim::EmbeddedResource resources[] = {\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        out << "    {" << (e.type_name.empty() ? std::string("nullptr") : wide_literal(e.type_name))
            << ", " << e.type_id << ", " << e.id << ", " << e.language << ", sablewick_resource_" << i
            << ", " << e.size << "},\n";
    }
    if (entries.empty()) out << "    {nullptr, 0, 0, 0, nullptr, 0},\n";
    out << "};\n\n}  // namespace\n\n"
        << "const winsim::EmbeddedResource* winsim::program_resources(std::size_t* count) {\n"
        << "    *count = " << entries.size() << ";\n"
        << "    return resources;\n"
        << "}\n";
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: res_embed <input.res> <output.cpp>\n";
        return 2;
    }
    try {
        const std::string text = generate(argv[1], parse(argv[1]));
        std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) throw std::runtime_error(std::string("cannot write ") + argv[2]);
    } catch (const std::exception& e) {
        std::cerr << "res_embed: " << argv[1] << ": " << e.what() << "\n";
        return 1;
    }
    return 0;
}
