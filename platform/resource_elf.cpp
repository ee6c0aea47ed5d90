// SPDX-License-Identifier: GPL-3.0-or-later
// Resources on ELF systems: each one is a note ("Corvex", type = resource type, payload = 32-bit
// number followed by the bytes) in the module's loaded note segments, so the module handle is all
// it takes to find one, as with resources in a Windows module.
#include "resource.h"

#include "platform/raster.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cstring>

namespace platform {

namespace {

constexpr char kOwner[] = "Corvex";

struct Search {
    uintptr_t handle = 0;
    uint32_t type = 0;
    int32_t id = 0;
    const uint8_t* data = nullptr;
    std::size_t size = 0;
};

std::size_t alignUp(std::size_t v, std::size_t a) { return (v + a - 1) / a * a; }

void scanNotes(const uint8_t* p, std::size_t length, std::size_t align, Search* s) {
    std::size_t off = 0;
    while (length - off >= 12) {
        uint32_t namesz = 0, descsz = 0, type = 0;
        std::memcpy(&namesz, p + off, 4);
        std::memcpy(&descsz, p + off + 4, 4);
        std::memcpy(&type, p + off + 8, 4);
        const std::size_t nameOff = off + 12;
        if (namesz > length - nameOff) return;
        const std::size_t descOff = nameOff + alignUp(namesz, align);
        if (descOff > length || descsz > length - descOff) return;
        if (type == s->type && namesz == sizeof(kOwner) &&
            std::memcmp(p + nameOff, kOwner, sizeof(kOwner)) == 0 && descsz >= 4) {
            int32_t id = 0;
            std::memcpy(&id, p + descOff, 4);
            if (id == s->id) {
                s->data = p + descOff + 4;
                s->size = descsz - 4;
                return;
            }
        }
        off = descOff + alignUp(descsz, align);
    }
}

int visit(dl_phdr_info* info, std::size_t, void* arg) {
    auto* s = static_cast<Search*>(arg);
    bool mine = false;
    for (int i = 0; i < info->dlpi_phnum && !mine; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD) continue;
        const uintptr_t start = info->dlpi_addr + ph.p_vaddr;
        mine = s->handle >= start && s->handle < start + ph.p_memsz;
    }
    if (!mine) return 0;
    for (int i = 0; i < info->dlpi_phnum && !s->data; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_NOTE) continue;
        const std::size_t align = ph.p_align == 8 ? 8 : 4;
        scanNotes(reinterpret_cast<const uint8_t*>(info->dlpi_addr + ph.p_vaddr), ph.p_memsz, align,
                  s);
    }
    return 1;  // the module was found: stop
}

}  // namespace

void* thisModule() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&thisModule), &info) == 0) return nullptr;
    return info.dli_fbase;
}

bool findResource(void* module, uint32_t type, int32_t id, const uint8_t** data,
                  std::size_t* size) {
    if (!module || !data || !size) return false;
    Search s{reinterpret_cast<uintptr_t>(module), type, id};
    dl_iterate_phdr(&visit, &s);
    if (!s.data) return false;
    *data = s.data;
    *size = s.size;
    return true;
}

}  // namespace platform
