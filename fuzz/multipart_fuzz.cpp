// Fuzzes the body collection and its multipart cut: the first byte picks the content type and
// the chunk size, the rest is the uploaded body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "web/request_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string_view content_type =
      (data[0] & 1) != 0 ? "multipart/form-data; boundary=x" : std::string_view();
  const std::size_t chunk = 1 + (data[0] >> 1);

  vx::UploadBody upload;
  for (std::size_t pos = 0; pos < body.size(); pos += chunk)
    upload.append(body.substr(pos, chunk));
  if (upload.text() != body.substr(0, upload.text().size())) std::abort();
  if (upload.text().size() >= vx::kUploadCapacity) std::abort();

  const std::string_view part = vx::multipart_body(content_type, upload.text());
  const char* begin = upload.text().data();
  if (part.data() < begin || part.data() + part.size() > begin + upload.text().size()) {
    std::abort();
  }
  if (!content_type.empty() && part.find("\r\n--") != std::string_view::npos) std::abort();
  return 0;
}
