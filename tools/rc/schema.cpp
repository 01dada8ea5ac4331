// The record kinds a declaration may use and where each attribute is stored.
#include "tools/rc/declarations.h"
#include "ui/resource_format.h"

namespace pr::rc {

namespace f = pr::ui::rsc;
using K = FieldKind;

const std::vector<RecordSpec>& RecordSpecs() {
  static const std::vector<RecordSpec> specs = {
      {"window", f::kWindow, f::RecordLength(f::kWindow), f::window::kLabel,
       {{"attr", K::kU32, f::window::kAttr},
        {"attr2", K::kU32, f::window::kAttr2},
        {"at", K::kPair, f::window::kX, f::window::kY},
        {"size", K::kPair, f::window::kWidth, f::window::kHeight},
        {"font", K::kFont, f::window::kFont},
        {"title", K::kText, f::window::kTitle},
        {"text1", K::kText, f::window::kText1},
        {"text2", K::kText, f::window::kText2},
        {"text3", K::kText, f::window::kText3},
        {"listtext", K::kTextList, f::window::kTextList},
        {"options", K::kU32, f::window::kOptions},
        {"text4", K::kText, f::window::kText4},
        {"key", K::kU8, f::window::kKeyCode},
        {"keytext", K::kText, f::window::kKeyText}}},
      {"prompt", f::kPrompt, f::RecordLength(f::kPrompt), f::head::kLabel,
       {{"at", K::kPair, f::kPlainX, f::kPlainX + 4},
        {"size", K::kPair, f::kPlainX + 8, f::kPlainX + 12},
        {"desc", K::kText, f::prompt::kDesc},
        {"text", K::kText, f::prompt::kText}}},
      {"string", f::kString, f::RecordLength(f::kString), f::head::kLabel,
       {{"at", K::kPair, f::kPlainX, f::kPlainX + 4},
        {"size", K::kPair, f::kPlainX + 8, f::kPlainX + 12},
        {"desc", K::kText, f::prompt::kDesc},
        {"text", K::kText, f::prompt::kText}}},
      {"entry", f::kEntry, f::RecordLength(f::kEntry), f::head::kLabel,
       {{"use", K::kVar, f::head::kUse},
        {"at", K::kPair, f::kBoundX, f::kBoundX + 4},
        {"size", K::kPair, f::kBoundX + 8, f::kBoundX + 12},
        {"picture", K::kText, f::entry::kPicture},
        {"indent", K::kI32, f::entry::kIndent}}},
      {"button", f::kButton, f::RecordLength(f::kButton), f::head::kLabel,
       {{"at", K::kPair, f::kPlainX, f::kPlainX + 4},
        {"size", K::kPair, f::kPlainX + 8, f::kPlainX + 12},
        {"desc", K::kText, f::button::kDesc},
        {"desc2", K::kText, f::button::kDesc2},
        {"text", K::kText, f::button::kText},
        {"icon", K::kText, f::button::kIcon},
        {"action", K::kU32, f::button::kAction},
        {"options", K::kU8, f::button::kOptions},
        {"time1", K::kU16, f::button::kTime1},
        {"time2", K::kU16, f::button::kTime2}}},
      {"list", f::kList, f::RecordLength(f::kList), f::head::kLabel,
       {{"use", K::kVar, f::head::kUse},
        {"format", K::kText, f::list::kFormat},
        {"at", K::kPair, f::kListX, f::kListX + 4},
        {"size", K::kPair, f::kListX + 8, f::kListX + 12},
        {"desc", K::kText, f::list::kDesc},
        {"setup", K::kU32, f::list::kSetup},
        {"from", K::kVar, f::list::kFrom},
        {"listoptions", K::kU32, f::list::kOptions},
        {"mode", K::kU8, f::list::kMode},
        {"barcolour", K::kU32, f::list::kBarColour},
        {"furthertext", K::kText, f::list::kText}}},
      {"textbox", f::kText, f::RecordLength(f::kText), f::head::kLabel,
       {{"use", K::kVar, f::head::kUse},
        {"at", K::kPair, f::kBoundX, f::kBoundX + 4},
        {"size", K::kPair, f::kBoundX + 8, f::kBoundX + 12},
        {"desc", K::kText, f::text::kDesc},
        {"desc2", K::kText, f::text::kDesc2}}},
      {"check", f::kCheck, f::RecordLength(f::kCheck), f::head::kLabel,
       {{"use", K::kVar, f::head::kUse},
        {"at", K::kPair, f::kBoundX, f::kBoundX + 4},
        {"size", K::kPair, f::kBoundX + 8, f::kBoundX + 12},
        {"desc", K::kText, f::text::kDesc},
        {"desc2", K::kText, f::text::kDesc2},
        {"text", K::kText, f::text::kCaption}}},
      {"spin", f::kSpin, f::RecordLength(f::kSpin), f::head::kLabel,
       {{"use", K::kVar, f::head::kUse},
        {"at", K::kPair, f::kBoundX, f::kBoundX + 4},
        {"size", K::kPair, f::kBoundX + 8, f::kBoundX + 12},
        {"desc", K::kText, f::text::kDesc},
        {"desc2", K::kText, f::text::kDesc2},
        {"picture", K::kText, f::spin::kPicture},
        {"indent", K::kI32, f::spin::kIndent},
        {"low", K::kI32, f::spin::kLow},
        {"high", K::kI32, f::spin::kHigh},
        {"step", K::kI32, f::spin::kStep}}},
      {"panel", f::kPanel, f::RecordLength(f::kPanel), f::head::kLabel,
       {{"at", K::kPair, f::kPlainX, f::kPlainX + 4},
        {"size", K::kPair, f::kPlainX + 8, f::kPlainX + 12},
        {"desc", K::kText, f::panel::kDesc},
        {"text", K::kText, f::panel::kText}}},
      {"progress", f::kProgress, f::RecordLength(f::kProgress), f::head::kLabel,
       {{"at", K::kPair, f::kPlainX, f::kPlainX + 4},
        {"size", K::kPair, f::kPlainX + 8, f::kPlainX + 12},
        {"desc", K::kText, f::panel::kDesc},
        {"text", K::kText, f::panel::kText}}},
  };
  return specs;
}

const RecordSpec* FindRecordSpec(std::string_view keyword) {
  for (const RecordSpec& described : RecordSpecs())
    if (keyword == described.keyword) return &described;
  return nullptr;
}

}  // namespace pr::rc
