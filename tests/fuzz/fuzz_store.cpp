// libFuzzer target for the store's parser: the input is a store file, read
// under code page 1252, 1251 or 932 (by its length). Every input is either
// refused with a line and a message, or read and written back byte for byte
// unchanged; after a run of the tool the kept sections stand verbatim and in
// their order, and a second run on the result changes nothing.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "emulation/reg_file.h"
#include "tests/support/tool_run.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "%s\n%s\n", what, detail.c_str());
  std::abort();
}

std::string Render(const emulation::RegDocument& document,
                   const emulation::EmulatedRegistry& registry) {
  std::string text;
  std::string error;
  if (!emulation::RenderRegFile(document, registry, text, error)) Fail("render failed", error);
  return text;
}

// Reads `text`, runs the tool on it and returns the store written back, or
// false when the text is refused.
bool CleanOnce(const std::string& text, emulation::CodePage page, std::string& result) {
  emulation::EmulatedRegistry registry(emulation::Family::Nt, page);
  emulation::RegDocument document;
  emulation::RegFileError error;
  if (!emulation::ParseRegFile(text, registry, document, error)) {
    if (error.line == 0 || error.message.empty()) Fail("refused without a line or message", text);
    return false;
  }
  if (Render(document, registry) != text) Fail("not written back unchanged", text);
  const testing_support::ToolRun run = testing_support::RunTool(registry);
  if (run.exitStatus != 33 || run.callBudgetExceeded) Fail("the run did not end normally", text);
  result = Render(document, registry);
  std::size_t at = document.preambleEnd;
  if (result.compare(0, at, text, 0, at) != 0) Fail("the preamble changed", result);
  for (const emulation::RegSection& section : document.sections) {
    if (section.key->removed) continue;
    const std::string_view kept = emulation::SectionText(document, section);
    const std::size_t found = result.find(kept, at);
    if (found == std::string::npos) Fail("a kept section is lost or out of order", result);
    at = found + kept.size();
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const emulation::CodePage PAGES[] = {emulation::CodePage::Windows1252,
                                              emulation::CodePage::Windows1251,
                                              emulation::CodePage::Windows932};
  const emulation::CodePage page = PAGES[size % 3];
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string once;
  if (!CleanOnce(text, page, once)) return 0;
  std::string twice;
  if (!CleanOnce(once, page, twice)) Fail("the written store is refused", once);
  if (twice != once) Fail("a second run changed the store", once);
  return 0;
}
