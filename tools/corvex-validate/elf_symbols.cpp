// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the dynamic symbol table of a 64- or 32-bit little-endian ELF file: what a plug-in
// library exports. Every offset is checked against the file's size before it is read.
#include "validate.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace validate {

namespace {

template <typename Ehdr, typename Shdr, typename Sym, unsigned char (*Bind)(unsigned char),
          unsigned char (*Type)(unsigned char)>
bool readSymbols(const std::vector<char>& file, std::vector<std::string>* out) {
    auto fits = [&](uint64_t offset, uint64_t size) {
        return offset <= file.size() && size <= file.size() - offset;
    };
    if (!fits(0, sizeof(Ehdr))) return false;
    Ehdr eh{};
    std::memcpy(&eh, file.data(), sizeof eh);
    if (eh.e_shentsize != sizeof(Shdr) ||
        !fits(eh.e_shoff, static_cast<uint64_t>(eh.e_shnum) * sizeof(Shdr)))
        return false;
    auto section = [&](std::size_t i) {
        Shdr sh{};
        std::memcpy(&sh, file.data() + eh.e_shoff + i * sizeof(Shdr), sizeof sh);
        return sh;
    };
    for (std::size_t i = 0; i < eh.e_shnum; ++i) {
        const Shdr sh = section(i);
        if (sh.sh_type != SHT_DYNSYM || sh.sh_link >= eh.e_shnum) continue;
        const Shdr strings = section(sh.sh_link);
        if (!fits(sh.sh_offset, sh.sh_size) || !fits(strings.sh_offset, strings.sh_size))
            return false;
        for (uint64_t off = 0; off + sizeof(Sym) <= sh.sh_size; off += sizeof(Sym)) {
            Sym s{};
            std::memcpy(&s, file.data() + sh.sh_offset + off, sizeof s);
            const unsigned bind = Bind(s.st_info), type = Type(s.st_info);
            if (s.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK)) continue;
            if (type != STT_FUNC && type != STT_OBJECT && type != STT_GNU_IFUNC) continue;
            if (s.st_name >= strings.sh_size) continue;
            const char* name = file.data() + strings.sh_offset + s.st_name;
            const std::size_t max = strings.sh_size - s.st_name;
            out->emplace_back(name, strnlen(name, max));
        }
        return true;
    }
    return true;  // no dynamic symbols at all
}

unsigned char bind64(unsigned char info) { return ELF64_ST_BIND(info); }
unsigned char type64(unsigned char info) { return ELF64_ST_TYPE(info); }
unsigned char bind32(unsigned char info) { return ELF32_ST_BIND(info); }
unsigned char type32(unsigned char info) { return ELF32_ST_TYPE(info); }

}  // namespace

std::vector<std::string> exportedSymbols(const std::string& path, std::string* error) {
    std::vector<std::string> names;
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> file((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
    if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) {
        if (error) *error = "not an ELF file";
        return names;
    }
    bool ok = false;
    if (file[EI_CLASS] == ELFCLASS64)
        ok = readSymbols<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym, bind64, type64>(file, &names);
    else if (file[EI_CLASS] == ELFCLASS32)
        ok = readSymbols<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym, bind32, type32>(file, &names);
    if (!ok && error) *error = "the ELF headers are damaged";
    return names;
}

}  // namespace validate
