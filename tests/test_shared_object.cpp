// SPDX-License-Identifier: BSD-3-Clause
// The built shared object as a host process sees it: loadable with dlopen,
// exporting exactly the two entries, needing only libc and libm.
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "float_bits.h"
#include "trueanomaly.h"

namespace {

struct DynamicInfo {
  std::set<std::string> functions;  // defined global/weak functions
  std::set<std::string> objects;    // defined global/weak data
  std::set<std::string> imports;    // undefined symbols, any type
  size_t irelative = 0;             // relocations resolved by indirect functions
  std::vector<std::string> needed;
  std::string soname;
};

template <class T>
T read_at(const std::vector<char>& image, size_t offset) {
  T value;
  if (offset + sizeof value > image.size()) throw std::runtime_error("truncated ELF");
  std::memcpy(&value, image.data() + offset, sizeof value);
  return value;
}

DynamicInfo read_dynamic_info(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const auto eh = read_at<Elf64_Ehdr>(image, 0);
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0) throw std::runtime_error("not ELF");
  std::vector<Elf64_Shdr> sections(eh.e_shnum);
  for (size_t i = 0; i < sections.size(); ++i)
    sections[i] = read_at<Elf64_Shdr>(image, eh.e_shoff + i * eh.e_shentsize);
  DynamicInfo info;
  for (const Elf64_Shdr& sh : sections) {
    const Elf64_Shdr& strtab = sections.at(sh.sh_link);
    auto str = [&](size_t off) { return std::string(image.data() + strtab.sh_offset + off); };
    if (sh.sh_type == SHT_DYNSYM) {
      for (size_t off = sh.sh_entsize; off < sh.sh_size; off += sh.sh_entsize) {
        const auto sym = read_at<Elf64_Sym>(image, sh.sh_offset + off);
        const int bind = ELF64_ST_BIND(sym.st_info), type = ELF64_ST_TYPE(sym.st_info);
        if (bind != STB_GLOBAL && bind != STB_WEAK) continue;
        if (sym.st_shndx == SHN_UNDEF) {
          info.imports.insert(str(sym.st_name));
          continue;
        }
        if (type == STT_FUNC || type == STT_GNU_IFUNC) info.functions.insert(str(sym.st_name));
        else if (type == STT_OBJECT || type == STT_TLS) info.objects.insert(str(sym.st_name));
      }
    } else if (sh.sh_type == SHT_RELA) {
      for (size_t off = 0; off + sizeof(Elf64_Rela) <= sh.sh_size; off += sizeof(Elf64_Rela)) {
        const auto rela = read_at<Elf64_Rela>(image, sh.sh_offset + off);
        if (ELF64_R_TYPE(rela.r_info) == R_X86_64_IRELATIVE) ++info.irelative;
      }
    } else if (sh.sh_type == SHT_DYNAMIC) {
      for (size_t off = 0; off < sh.sh_size; off += sizeof(Elf64_Dyn)) {
        const auto dyn = read_at<Elf64_Dyn>(image, sh.sh_offset + off);
        if (dyn.d_tag == DT_NEEDED) info.needed.push_back(str(dyn.d_un.d_val));
        if (dyn.d_tag == DT_SONAME) info.soname = str(dyn.d_un.d_val);
      }
    }
  }
  return info;
}

TEST(SharedObject, ExportsExactlyTheTwoEntries) {
  const DynamicInfo info = read_dynamic_info(TRUEANOMALY_LIBRARY_PATH);
  EXPECT_EQ(info.functions, (std::set<std::string>{"trueanomaly", "trueanomaly_array"}));
  EXPECT_TRUE(info.objects.empty());
}

TEST(SharedObject, NeedsOnlyLibcAndLibm) {
  const DynamicInfo info = read_dynamic_info(TRUEANOMALY_LIBRARY_PATH);
  EXPECT_EQ(info.soname, "libtrueanomaly.so." + std::to_string(TRUEANOMALY_VERSION_MAJOR));
  for (const std::string& lib : info.needed) {
#ifdef TRUEANOMALY_SANITIZED  // a sanitizer build also needs the sanitizer runtimes
    if (lib.rfind("libasan.so", 0) == 0 || lib.rfind("libubsan.so", 0) == 0 ||
        lib.rfind("libtsan.so", 0) == 0)
      continue;
#endif
    EXPECT_TRUE(lib == "libc.so.6" || lib == "libm.so.6") << lib;
  }
  // Named even where no libc symbol is left after --as-needed, so that
  // packages can version their dependency on it.
  EXPECT_NE(std::find(info.needed.begin(), info.needed.end(), "libc.so.6"), info.needed.end());
}

// The solve calls sin and cos, never sincos: a libm's sincos need not give
// the bits of its sin and cos, and the compiler merges the two calls unless
// told not to. Every import that this process's libm defines must be one of
// the four functions the solve names.
TEST(SharedObject, ImportsFromLibmOnlySinCosSqrtAndAtan2) {
  void* libm = dlopen("libm.so.6", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(libm, nullptr) << "libm.so.6 is not loaded: " << dlerror();
  const link_map* map = nullptr;
  ASSERT_EQ(dlinfo(libm, RTLD_DI_LINKMAP, &map), 0) << dlerror();
  const DynamicInfo libm_info = read_dynamic_info(map->l_name);
  dlclose(libm);
  ASSERT_TRUE(libm_info.functions.count("sincos")) << map->l_name << " read wrongly";
  const std::set<std::string> allowed = {"atan2", "cos", "sin", "sqrt"};
  std::set<std::string> from_libm;
  for (const std::string& name : read_dynamic_info(TRUEANOMALY_LIBRARY_PATH).imports)
    if (libm_info.functions.count(name)) from_libm.insert(name);
  for (const std::string& name : from_libm) EXPECT_TRUE(allowed.count(name)) << name;
  // sqrt may be an instruction alone (no errno to set); the others are calls.
  for (const char* name : {"sin", "cos", "atan2"}) EXPECT_TRUE(from_libm.count(name)) << name;
}

// Built with GNU indirect functions (glibc), the choice of path is bound
// by the loader: the library carries IRELATIVE relocations. Built without
// (musl, or -DTRUEANOMALY_IFUNC=OFF), it carries none, and loads with any
// C library's loader.
TEST(SharedObject, BindsThePathAsConfigured) {
#if !defined(__x86_64__)
  GTEST_SKIP() << "the plain path alone: nothing to bind";
#else
  const DynamicInfo info = read_dynamic_info(TRUEANOMALY_LIBRARY_PATH);
  if (TRUEANOMALY_USES_IFUNC)
    EXPECT_GT(info.irelative, 0u);
  else
    EXPECT_EQ(info.irelative, 0u);
#endif
}

TEST(SharedObject, LoadsWithDlopenAndAgreesWithTheLinkedEntries) {
  void* handle = dlopen(TRUEANOMALY_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  using Scalar = float (*)(float, float, int32_t, int32_t);
  using Array = int32_t (*)(const float*, int32_t, float, float*, int32_t, int32_t);
  auto scalar = reinterpret_cast<Scalar>(dlsym(handle, "trueanomaly"));
  auto array = reinterpret_cast<Array>(dlsym(handle, "trueanomaly_array"));
  ASSERT_NE(scalar, nullptr);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(dlsym(handle, "trueanomaly_solve"), nullptr);
  EXPECT_EQ(float_bits(scalar(1.0f, 0.5f, 100, 0)), float_bits(2.0993011f));
  const float in[] = {2.0f, 2.5f, 0.2f};
  float out[] = {0.0f, 0.0f, 0.0f};
  EXPECT_EQ(array(in, 3, 0.99f, out, 2, 0), -1);
  EXPECT_EQ(float_bits(out[1]), float_bits(3.11935544f));
  EXPECT_EQ(float_bits(out[2]), float_bits(0.0f));
  dlclose(handle);
}

}  // namespace
