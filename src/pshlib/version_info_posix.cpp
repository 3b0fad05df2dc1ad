// The version record on POSIX: an ELF note in a section of its own, written
// by the assembler from the build's version numbers and found again through
// the section headers of the library file. The section is not loaded into
// memory, so that stripping it (objcopy --remove-section) leaves a working
// library that reports an unknown version.
#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "pshlib/version_info.h"

#if !defined(PSHLIB_VERSION_MAJOR) || !defined(PSHLIB_VERSION_MINOR) || \
    !defined(PSHLIB_VERSION_RELEASE) || !defined(PSHLIB_VERSION_BUILD)
#error "the build passes the library's version numbers"
#endif

#define PSH_TEXT_OF(x) #x
#define PSH_TEXT(x) PSH_TEXT_OF(x)

// Note "PSHLib", type 1; its descriptor is the fixed part: signature,
// layout version, file version (two words), product version (two words).
asm(".pushsection .note.pshlib.version,\"\",%note\n"
    ".balign 4\n"
    ".long 7\n"
    ".long 24\n"
    ".long 1\n"
    ".asciz \"PSHLib\"\n"
    ".balign 4\n"
    ".long 0xFEEF04BD\n"
    ".long 0x00010000\n"
    ".long (" PSH_TEXT(PSHLIB_VERSION_MAJOR) " << 16) | " PSH_TEXT(PSHLIB_VERSION_MINOR) "\n"
    ".long (" PSH_TEXT(PSHLIB_VERSION_RELEASE) " << 16) | " PSH_TEXT(PSHLIB_VERSION_BUILD) "\n"
    ".long (" PSH_TEXT(PSHLIB_VERSION_MAJOR) " << 16) | " PSH_TEXT(PSHLIB_VERSION_MINOR) "\n"
    ".long (" PSH_TEXT(PSHLIB_VERSION_RELEASE) " << 16) | " PSH_TEXT(PSHLIB_VERSION_BUILD) "\n"
    ".popsection\n");

namespace kvt::psh {
namespace {

constexpr const char* kSectionName = ".note.pshlib.version";
constexpr char kNoteName[] = "PSHLib";
constexpr std::uint32_t kNoteType = 1;
constexpr std::uint32_t kSignature = 0xFEEF04BD;
constexpr std::size_t kFixedWords = 6;

// Reads byte ranges of one file, refusing any range outside it.
class FileReader {
  public:
    explicit FileReader(const std::string& path) : file_(path, std::ios::binary) {
        if (file_) {
            file_.seekg(0, std::ios::end);
            const std::streamoff end = file_.tellg();
            size_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
        }
    }

    bool read(std::uint64_t offset, void* out, std::uint64_t count) {
        if (!file_ || offset > size_ || count > size_ - offset) {
            return false;
        }
        file_.seekg(static_cast<std::streamoff>(offset));
        file_.read(static_cast<char*>(out), static_cast<std::streamsize>(count));
        return static_cast<bool>(file_);
    }

    bool read(std::uint64_t offset, std::vector<char>& out, std::uint64_t count) {
        if (count > size_) {
            return false;
        }
        out.resize(count);
        return count == 0 || read(offset, out.data(), count);
    }

  private:
    std::ifstream file_;
    std::uint64_t size_ = 0;
};

bool isOwnKindOfElf(const ElfW(Ehdr) & header) {
    constexpr unsigned char kClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
    constexpr unsigned char kData =
        __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
    return std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
           header.e_ident[EI_CLASS] == kClass && header.e_ident[EI_DATA] == kData &&
           header.e_shentsize == sizeof(ElfW(Shdr)) && header.e_shnum > 0 &&
           header.e_shstrndx != SHN_UNDEF && header.e_shstrndx < header.e_shnum;
}

std::uint32_t wordAt(const std::vector<char>& bytes, std::size_t offset) {
    std::uint32_t word = 0;
    std::memcpy(&word, bytes.data() + offset, sizeof word);
    return word;
}

std::size_t alignedTo4(std::size_t size) {
    return (size + 3) & ~std::size_t{3};
}

// The fixed part from the notes of the section, when one of them is ours.
std::optional<FixedVersion> fixedVersionFromNotes(const std::vector<char>& notes) {
    constexpr std::size_t kHeader = 3 * sizeof(std::uint32_t);
    std::size_t at = 0;
    while (notes.size() - at >= kHeader) {
        const std::size_t nameSize = wordAt(notes, at);
        const std::size_t descSize = wordAt(notes, at + 4);
        const std::uint32_t type = wordAt(notes, at + 8);
        const std::size_t name = at + kHeader;
        if (nameSize > notes.size() - name) {
            return std::nullopt;
        }
        const std::size_t desc = name + alignedTo4(nameSize);
        if (desc > notes.size() || descSize > notes.size() - desc) {
            return std::nullopt;
        }
        if (type == kNoteType && nameSize == sizeof kNoteName &&
            std::memcmp(notes.data() + name, kNoteName, sizeof kNoteName) == 0 &&
            descSize >= kFixedWords * sizeof(std::uint32_t) && wordAt(notes, desc) == kSignature) {
            FixedVersion version;
            version.fileVersionMS = wordAt(notes, desc + 8);
            version.fileVersionLS = wordAt(notes, desc + 12);
            version.productVersionMS = wordAt(notes, desc + 16);
            version.productVersionLS = wordAt(notes, desc + 20);
            return version;
        }
        at = desc + alignedTo4(descSize);
        if (at > notes.size()) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string libraryPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&libraryPath), &info) == 0 ||
        info.dli_fname == nullptr) {
        return {};
    }
    return info.dli_fname;
}

std::optional<FixedVersion> readFixedVersion(const std::string& path) {
    FileReader file(path);
    ElfW(Ehdr) header{};
    if (!file.read(0, &header, sizeof header) || !isOwnKindOfElf(header)) {
        return std::nullopt;
    }
    std::vector<ElfW(Shdr)> sections(header.e_shnum);
    if (!file.read(header.e_shoff, sections.data(), sections.size() * sizeof(ElfW(Shdr)))) {
        return std::nullopt;
    }
    std::vector<char> names;
    const ElfW(Shdr)& nameTable = sections[header.e_shstrndx];
    if (!file.read(nameTable.sh_offset, names, nameTable.sh_size)) {
        return std::nullopt;
    }
    for (const ElfW(Shdr) & section : sections) {
        if (section.sh_type != SHT_NOTE || section.sh_name >= names.size() ||
            std::strncmp(names.data() + section.sh_name, kSectionName,
                         names.size() - section.sh_name) != 0) {
            continue;
        }
        std::vector<char> notes;
        if (!file.read(section.sh_offset, notes, section.sh_size)) {
            return std::nullopt;
        }
        return fixedVersionFromNotes(notes);
    }
    return std::nullopt;
}

}  // namespace kvt::psh
