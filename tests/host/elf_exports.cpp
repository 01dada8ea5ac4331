#include "tests/host/elf_exports.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

namespace {
template <class T>
bool ReadAt(const std::string& image, uint64_t offset, T* out) {
  if (offset > image.size() || image.size() - offset < sizeof(T)) return false;
  std::memcpy(out, image.data() + offset, sizeof(T));
  return true;
}

std::string StringAt(const std::string& image, const Elf64_Shdr& strtab, uint64_t index) {
  if (index >= strtab.sh_size || strtab.sh_offset > image.size() || strtab.sh_size > image.size() - strtab.sh_offset)
    return std::string();
  const char* begin = image.data() + strtab.sh_offset + index;
  return std::string(begin, strnlen(begin, strtab.sh_size - index));
}
}  // namespace

std::vector<DynamicSymbol> ReadDynamicSymbols(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Elf64_Ehdr eh{};
  if (!ReadAt(image, 0, &eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
      eh.e_type != ET_DYN || eh.e_shentsize != sizeof(Elf64_Shdr)) {
    *error = "not a 64-bit ELF shared object: " + path;
    return {};
  }
  std::vector<Elf64_Shdr> sections(eh.e_shnum);
  for (size_t i = 0; i < sections.size(); ++i) {
    if (!ReadAt(image, eh.e_shoff + i * sizeof(Elf64_Shdr), &sections[i])) {
      *error = "section table out of the file";
      return {};
    }
  }
  const Elf64_Shdr* dynsym = nullptr;
  const Elf64_Shdr* versym = nullptr;
  const Elf64_Shdr* verdef = nullptr;
  for (const Elf64_Shdr& s : sections) {
    if (s.sh_type == SHT_DYNSYM) dynsym = &s;
    if (s.sh_type == SHT_GNU_versym) versym = &s;
    if (s.sh_type == SHT_GNU_verdef) verdef = &s;
  }
  if (dynsym == nullptr || dynsym->sh_link >= sections.size()) {
    *error = "no dynamic symbol table";
    return {};
  }
  const Elf64_Shdr& dynstr = sections[dynsym->sh_link];
  // Version index -> version node name.
  std::map<uint16_t, std::string> versionNames;
  if (verdef != nullptr && verdef->sh_link < sections.size()) {
    uint64_t at = verdef->sh_offset;
    for (uint64_t i = 0; i < verdef->sh_info; ++i) {
      Elf64_Verdef vd{};
      Elf64_Verdaux aux{};
      if (!ReadAt(image, at, &vd) || !ReadAt(image, at + vd.vd_aux, &aux)) break;
      versionNames[vd.vd_ndx] = StringAt(image, sections[verdef->sh_link], aux.vda_name);
      if (vd.vd_next == 0) break;
      at += vd.vd_next;
    }
  }
  std::vector<DynamicSymbol> out;
  const uint64_t count = dynsym->sh_entsize ? dynsym->sh_size / dynsym->sh_entsize : 0;
  for (uint64_t i = 1; i < count; ++i) {
    Elf64_Sym sym{};
    if (!ReadAt(image, dynsym->sh_offset + i * sizeof(Elf64_Sym), &sym)) break;
    if (sym.st_shndx == SHN_UNDEF) continue;
    DynamicSymbol d{StringAt(image, dynstr, sym.st_name), "", false, false};
    uint16_t v = 0;
    if (versym != nullptr && ReadAt(image, versym->sh_offset + i * sizeof(uint16_t), &v)) {
      d.hidden = (v & 0x8000) != 0;
      auto it = versionNames.find(static_cast<uint16_t>(v & 0x7FFF));
      if (it != versionNames.end()) d.version = it->second;
    }
    d.isVersionNode = sym.st_shndx == SHN_ABS && sym.st_value == 0 && d.name == d.version;
    out.push_back(d);
  }
  return out;
}
