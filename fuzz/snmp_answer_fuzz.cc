// Property: whatever a device sends as an SNMP answer, the reader keeps only
// texts within the cap, and the sighting made of it asks for nothing longer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "discovery/snmp_answer.h"
#include "shell_words.h"

using kxsane::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const auto answer = kxsane::parse_snmp_answer(bytes);
  if (!answer)
    return 0;
  for (const std::string* text :
       {&answer->sys_name, &answer->sys_descr, &answer->device_descr, &answer->device_id}) {
    check(text->size() <= kxsane::kMaxSightingText);
  }
  const kxsane::Sighting sighting = kxsane::sighting_from_snmp(*answer, "10.0.0.5");
  check(sighting.model_texts.size() <= 2);
  for (const std::string& text : sighting.model_texts) check(!text.empty() && text.size() <= 255);
  check(sighting.announced.size() <= 2 * kxsane::kMaxSightingText + 1);
  return 0;
}
