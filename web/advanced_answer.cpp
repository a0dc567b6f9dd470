#include "settings/advanced_fields.h"
#include "vocabulary/ascii.h"
#include "web/api.h"

namespace vx {

WebAnswer answer_advanced_settings(std::string_view path, std::string_view argument_text,
                                   const std::optional<std::string>& body) {
  if (!body) {
    WebAnswer refused = text_answer(405, "post the channel to translate");
    refused.headers.emplace_back("Allow", "POST");
    return refused;
  }
  const AdvancedPanel panel =
      iequals(path, "/advanced_video") ? AdvancedPanel::video : AdvancedPanel::format;
  std::optional<AdvancedStep> step;
  if (iequals(argument_text, "load")) step = AdvancedStep::load;
  if (iequals(argument_text, "save")) step = AdvancedStep::save;
  if (panel == AdvancedPanel::format && iequals(argument_text, "add_source_stream")) {
    step = AdvancedStep::add_source_stream;
  }
  if (panel == AdvancedPanel::format && iequals(argument_text, "add_program")) {
    step = AdvancedStep::add_program;
  }
  if (!step) {
    return text_answer(400, panel == AdvancedPanel::format
                                ? "ask for \"?load\", \"?save\", \"?add_source_stream\" or "
                                  "\"?add_program\""
                                : "ask for \"?load\" or \"?save\"");
  }
  // The translation reads only the body: the document and the engine stay unlocked.
  AdvancedTranslation translation = translate_advanced_settings(panel, *step, *body);
  if (!translation.ok) return text_answer(400, std::move(translation.text));
  return WebAnswer{200, json_headers(), std::move(translation.text)};
}

}  // namespace vx
