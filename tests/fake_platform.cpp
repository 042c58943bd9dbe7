#include "tests/fake_platform.h"

#include <algorithm>

namespace zipdrop {

namespace {

// What the fake's automation objects are: a kind and the path they stand for.
struct FakeObject : AutomationObject {
  FakeObject(std::string kind, std::u16string path) : kind_(std::move(kind)), path_(std::move(path)) {}
  std::string kind_;
  std::u16string path_;
};

std::string Describe(const Value& value) {
  if (std::holds_alternative<std::monostate>(value)) return "nothing";
  if (auto* text = std::get_if<std::u16string>(&value)) return "\"" + Utf8(*text) + "\"";
  if (auto* flag = std::get_if<bool>(&value)) return *flag ? "true" : "false";
  auto object = std::static_pointer_cast<FakeObject>(std::get<ObjectRef>(value));
  if (!object) return "null";
  return object->path_.empty() ? object->kind_ : object->kind_ + "(" + Utf8(object->path_) + ")";
}

std::u16string Lower(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return text;
}

}  // namespace

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

void FakePlatform::Record(const std::string& call) {
  int index = static_cast<int>(calls.size());
  calls.push_back(call);
  bool listed = std::any_of(failWhenStartsWith.begin(), failWhenStartsWith.end(),
                            [&](const std::string& prefix) { return call.rfind(prefix, 0) == 0; });
  if (index == failCallIndex || listed) throw PlatformError("told to fail: " + call);
}

void FakePlatform::ShowMessage(const std::u16string& text, const std::u16string& title,
                               int iconCode) {
  Record("ShowMessage(" + Utf8(title) + ")");
  messages.push_back(Utf8(title) + "|" + Utf8(text) + "|" + std::to_string(iconCode));
}

std::u16string FakePlatform::ReadArgumentText() {
  Record("ReadArgumentText()");
  return argumentText;
}

std::u16string FakePlatform::ReadProgramFolder() {
  Record("ReadProgramFolder()");
  return programFolder;
}

std::u16string FakePlatform::ReadEnvironment(const std::u16string& name) {
  Record("ReadEnvironment(" + Utf8(name) + ")");
  for (const auto& [key, value] : environment) {
    if (Lower(key) == Lower(name)) return value;
  }
  return u"";
}

ObjectRef FakePlatform::CreateAutomationObject(const std::u16string& progId) {
  Record("CreateAutomationObject(" + Utf8(progId) + ")");
  if (Lower(progId) == u"shell.application") return std::make_shared<FakeObject>("shell", u"");
  if (Lower(progId) == u"scripting.filesystemobject") {
    return std::make_shared<FakeObject>("filesystem", u"");
  }
  throw PlatformError("no such class");
}

Value FakePlatform::CallMember(const ObjectRef& object, const std::u16string& member,
                               const std::vector<Value>& arguments) {
  std::string call = "CallMember(" + Describe(object) + ", " + Utf8(member);
  for (const Value& argument : arguments) call += ", " + Describe(argument);
  Record(call + ")");

  auto target = std::static_pointer_cast<FakeObject>(object);
  if (!target) throw PlatformError("object required");
  std::u16string name = Lower(member);
  if (target->kind_ == "shell" && name == u"namespace") {
    const auto& path = std::get<std::u16string>(arguments.at(0));
    if (missingPaths.count(path)) return std::monostate{};
    return ObjectRef(std::make_shared<FakeObject>("folder", path));
  }
  if (target->kind_ == "folder" && name == u"items") {
    return ObjectRef(std::make_shared<FakeObject>("items", target->path_));
  }
  if ((target->kind_ == "folder" && name == u"copyhere") ||
      (target->kind_ == "filesystem" && name == u"deletefolder")) {
    return std::monostate{};
  }
  throw PlatformError("no such member");
}

std::int64_t FakePlatform::LaunchCommandLine(const std::u16string& commandLine, int windowStyle) {
  Record("LaunchCommandLine(" + Utf8(commandLine) + ", " + std::to_string(windowStyle) + ")");
  launches.push_back(Utf8(commandLine));
  return 4242;
}

}  // namespace zipdrop
