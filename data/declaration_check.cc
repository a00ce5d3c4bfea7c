// The declaration check and its report.

#include "data/declaration_check.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "runtime/core/runtime_error.h"
#include "runtime/core/runtime_message.h"
#include "runtime/core/text.h"

namespace qzr {
namespace {

using Texts = std::vector<std::string_view>;

// Built-in texts by source and level, used when the runtime has no string of
// the message's number.
const std::array<Texts, 6>& DeclarationTexts() {
  static const std::array<Texts, 6> texts = {
      Texts{"Internal Error:  Property cannot be set", "Dynamic File Support Not Found",
            "No File Driver Specified"},
      Texts{"No File Driver Specified", "File Driver could not be loaded",
            "The DLL is not a valid file driver", "File Driver not defined",
            "The record structure is greater than 4,194,304 bytes in size"},
      Texts{"Not a Valid Morwain Label", "Duplicate Label", "No Type Specified",
            "Type requires a size and no size specified",
            "The Group has more fields than has been defined",
            "More Decimal Places than specified size", "Size is too big",
            "Field Count not specified for a GROUP field",
            "Field must be over a field defined before the field",
            "The Group is greater than 4,194,304 bytes in size",
            "The Field is greater than 4,190,208 bytes in size",
            "Field is larger than the field that it is over", "Invalid Picture",
            "Field cannot be over a field inside another GROUP"},
      Texts{"Not a Valid Morwain Label", "Duplicate Label", "No Size Specified for a MEMO"},
      Texts{"Not a Valid Morwain Label", "Duplicate Label",
            "Type set to \u2018KEY\u2019, but no fields specified",
            "Key is defined as PRIMARY and DUP",
            "Component number is greater than the number of fields in the file structure"},
      Texts{"Component number is greater than the number of fields in the file structure",
            "Component is a dimmensioned field",
            "Component does not match physical file structure"},
  };
  return texts;
}

const std::array<Texts, 6>& DriverTexts() {
  static const std::array<Texts, 6> texts = {
      Texts{},
      Texts{},
      Texts{"No Name or Label Specified", "Data type not supported",
            "Number of dimensions is greater than that supported by the file driver",
            "Field is larger than the maximum supported by the file driver"},
      Texts{"No Name or Label Specified", "Too Many Memos defined",
            "Memo is larger than the maximum size supported by the file driver",
            "Driver does not support BLOBs", "Driver does not support MEMOs",
            "Driver does not support BINARY memos or blobs"},
      Texts{"No Name or Label Specified", "Too Many Keys defined"},
      Texts{"Driver does not support Descending Key Components",
            "Driver does not support mixed Ascending and Descending Key Components"},
  };
  return texts;
}

thread_local std::optional<DeclarationProblem> t_last_problem;

bool IsLabelStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IsLabelChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// A label is an optional prefix and a colon, then a name; prefix and name
// each start with a letter or "_" and go on with letters, digits and "_".
bool IsValidLabel(std::string_view label) {
  size_t colon = label.find(':');
  auto valid_part = [](std::string_view part) {
    if (part.empty() || !IsLabelStart(part[0])) return false;
    for (char c : part) {
      if (!IsLabelChar(c)) return false;
    }
    return true;
  };
  if (colon == std::string_view::npos) return valid_part(label);
  return valid_part(label.substr(0, colon)) && valid_part(label.substr(colon + 1));
}

// Pictures are checked for their family only: the letter after the "@"
// (numbers N, scientific E, strings S, dates D, times T, patterns P, key-ins
// K). The picture compiler reports the rest when the picture is used.
bool IsPlausiblePicture(std::string_view picture) {
  if (!picture.empty() && picture[0] == '@') picture.remove_prefix(1);
  if (picture.empty()) return false;
  switch (AsciiUpper(picture[0])) {
    case 'N':
    case 'E':
    case 'S':
    case 'D':
    case 'T':
    case 'P':
    case 'K':
      return true;
    default:
      return false;
  }
}

bool IsDecimalType(TypeCode t) {
  return t == TypeCode::DECIMAL || t == TypeCode::PDECIMAL;
}

bool OverLimit(uint64_t value, uint64_t limit) {
  return limit != 0 && value > limit;
}

DeclarationProblem Problem(DeclLevel level, int item, std::string attribute, DeclSource source,
                           int k) {
  DeclarationProblem p;
  p.level = level;
  p.item = item;
  p.attribute = std::move(attribute);
  p.source = source;
  p.message = k;
  return p;
}

constexpr DeclSource S = DeclSource::kDeclaration;
constexpr DeclSource D = DeclSource::kDriver;

// The innermost GROUP containing each field (kNoField for none). A group's
// members are the next group_fields fields, nested members included.
std::vector<int> ParentGroups(const std::vector<FieldDesc>& fields) {
  std::vector<int> parent(fields.size(), kNoField);
  for (size_t g = 0; g < fields.size(); ++g) {
    if (fields[g].type != TypeCode::GROUP) continue;
    size_t end = std::min(fields.size(), g + 1 + fields[g].group_fields);
    // Later (inner) groups overwrite earlier ones for their members.
    for (size_t m = g + 1; m < end; ++m) parent[m] = static_cast<int>(g);
  }
  return parent;
}

bool InsideGroup(const std::vector<FieldDesc>& fields, int group, size_t field) {
  size_t g = static_cast<size_t>(group);
  return field > g && field <= g + fields[g].group_fields;
}

std::optional<DeclarationProblem> CheckFields(const FileDescriptor& file,
                                              const DriverCapabilities* caps) {
  const auto& fields = file.fields;
  std::vector<int> parent = ParentGroups(fields);
  std::vector<std::string> seen;
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldDesc& f = fields[i];
    const int item = static_cast<int>(i) + 1;
    auto problem = [&](std::string attribute, DeclSource source, int k) {
      return Problem(DeclLevel::kField, item, std::move(attribute), source, k);
    };
    if (!f.label.empty()) {
      if (!IsValidLabel(f.label)) return problem("LABEL", S, decl::kInvalidLabel);
      std::string upper = Upper(f.label);
      for (const std::string& s : seen) {
        if (s == upper) return problem("LABEL", S, decl::kDuplicateLabel);
      }
      seen.push_back(std::move(upper));
    } else if (caps != nullptr && f.name.empty()) {
      return problem("LABEL", D, decl::kNoNameOrLabel);
    }
    if (f.type == TypeCode::END) return problem("TYPE", S, decl::kNoType);
    if (f.type == TypeCode::GROUP) {
      if (f.group_fields == 0) return problem("FIELDS", S, decl::kNoGroupFieldCount);
      if (i + f.group_fields >= fields.size())
        return problem("FIELDS", S, decl::kGroupHasMoreFields);
    } else if (IsDecimalType(f.type)) {
      if (f.size == 0 && f.digits == 0) return problem("SIZE", S, decl::kNoSize);
      if (f.places > f.digits) return problem("PLACES", S, decl::kTooManyPlaces);
      if (f.digits > kMaxDecimalDigits || f.size > kMaxDecimalDigits / 2 + 1) {
        return problem("SIZE", S, decl::kSizeTooBig);
      }
    } else if (IsTextType(f.type)) {
      if (f.size == 0) return problem("SIZE", S, decl::kNoSize);
      // A PSTRING's length byte counts at most 255 characters.
      if (f.type == TypeCode::PSTRING && f.size > 256) return problem("SIZE", S, decl::kSizeTooBig);
    } else if (f.size == 0 && FixedTypeSize(f.type) == 0) {
      return problem("SIZE", S, decl::kNoSize);
    }
    if (f.over != kNoField) {
      if (f.over < 0 || static_cast<size_t>(f.over) >= i)
        return problem("OVER", S, decl::kOverLaterField);
      const FieldDesc& target = fields[static_cast<size_t>(f.over)];
      int target_parent = parent[static_cast<size_t>(f.over)];
      if (target_parent != kNoField && !InsideGroup(fields, target_parent, i)) {
        return problem("OVER", S, decl::kOverInOtherGroup);
      }
      if (f.TotalSize() > target.TotalSize()) return problem("OVER", S, decl::kLargerThanOver);
    }
    if (f.type == TypeCode::GROUP) {
      if (f.TotalSize() > kMaxGroupSize) return problem("SIZE", S, decl::kGroupTooLarge);
    } else if (f.TotalSize() > kMaxFieldSize) {
      return problem("SIZE", S, decl::kFieldTooLarge);
    }
    if (!f.picture.empty() && !IsPlausiblePicture(f.picture)) {
      return problem("PICTURE", S, decl::kInvalidPicture);
    }
    if (caps != nullptr) {
      if (f.type != TypeCode::GROUP && !caps->Stores(f.type)) {
        return problem("TYPE", D, decl::kTypeNotSupported);
      }
      if (caps->max_dimensions != 0 && f.dims.size() > caps->max_dimensions) {
        return problem("DIM", D, decl::kTooManyDimensions);
      }
      if (OverLimit(f.TotalSize(), caps->max_field_size)) {
        return problem("SIZE", D, decl::kFieldOverDriverMax);
      }
    }
  }
  return std::nullopt;
}

// Every field must lie inside the record buffer: a driver copies fields
// from there, and a field past its end would be read or written beyond it.
std::optional<DeclarationProblem> CheckBuffer(const FileDescriptor& file) {
  for (size_t i = 0; i < file.fields.size(); ++i) {
    const FieldDesc& f = file.fields[i];
    if (uint64_t{f.offset} + f.TotalSize() > file.record.size()) {
      return Problem(DeclLevel::kField, static_cast<int>(i) + 1, "SIZE", S, decl::kSizeTooBig);
    }
  }
  return std::nullopt;
}

std::optional<DeclarationProblem> CheckMemos(const FileDescriptor& file,
                                             const DriverCapabilities* caps) {
  std::vector<std::string> seen;
  for (const FieldDesc& f : file.fields) {
    if (!f.label.empty()) seen.push_back(Upper(f.label));
  }
  for (size_t m = 0; m < file.memos.size(); ++m) {
    const MemoDesc& memo = file.memos[m];
    auto problem = [&](std::string attribute, DeclSource source, int k) {
      DeclarationProblem p =
          Problem(DeclLevel::kMemo, static_cast<int>(m) + 1, std::move(attribute), source, k);
      p.blob = memo.IsBlob();
      return p;
    };
    if (!memo.label.empty()) {
      if (!IsValidLabel(memo.label)) return problem("LABEL", S, decl::kInvalidLabel);
      std::string upper = Upper(memo.label);
      for (const std::string& s : seen) {
        if (s == upper) return problem("LABEL", S, decl::kDuplicateLabel);
      }
      seen.push_back(std::move(upper));
    } else if (caps != nullptr && memo.name.empty()) {
      return problem("LABEL", D, decl::kNoNameOrLabel);
    }
    if (!memo.IsBlob() && memo.size == 0) return problem("SIZE", S, decl::kMemoNoSize);
    if (caps != nullptr) {
      if (caps->max_memos != 0 && m >= caps->max_memos)
        return problem("MEMOS", D, decl::kTooManyMemos);
      if (memo.IsBlob() && !caps->blob) return problem("BLOB", D, decl::kNoBlobs);
      if (!memo.IsBlob() && !caps->memo) return problem("MEMO", D, decl::kNoMemos);
      if (!memo.IsBlob() && OverLimit(memo.size, caps->max_memo_size)) {
        return problem("SIZE", D, decl::kMemoOverDriverMax);
      }
      if (memo.IsBinary() && !caps->binary_memo) return problem("BINARY", D, decl::kNoBinaryMemos);
    }
  }
  return std::nullopt;
}

std::optional<DeclarationProblem> CheckKeys(const FileDescriptor& file,
                                            const DriverCapabilities* caps) {
  std::vector<std::string> seen;
  for (const FieldDesc& f : file.fields) {
    if (!f.label.empty()) seen.push_back(Upper(f.label));
  }
  for (const MemoDesc& m : file.memos) {
    if (!m.label.empty()) seen.push_back(Upper(m.label));
  }
  for (size_t k = 0; k < file.keys.size(); ++k) {
    const KeyDesc& key = file.keys[k];
    const int item = static_cast<int>(k) + 1;
    auto problem = [&](std::string attribute, DeclSource source, int msg) {
      return Problem(DeclLevel::kKey, item, std::move(attribute), source, msg);
    };
    if (!key.label.empty()) {
      if (!IsValidLabel(key.label)) return problem("LABEL", S, decl::kInvalidLabel);
      std::string upper = Upper(key.label);
      for (const std::string& s : seen) {
        if (s == upper) return problem("LABEL", S, decl::kDuplicateLabel);
      }
      seen.push_back(std::move(upper));
    } else if (caps != nullptr && key.name.empty()) {
      return problem("LABEL", D, decl::kNoNameOrLabel);
    }
    // An INDEX may be declared without components: it is a dynamic index
    // whose components are given when it is built.
    if (!key.IsIndex() && key.components.empty()) return problem("FIELDS", S, decl::kKeyNoFields);
    if ((key.flags & kKeyPrimary) != 0 && (key.flags & kKeyDup) != 0) {
      return problem("ATTRIBUTE", S, decl::kPrimaryAndDup);
    }
    if (key.components.size() > file.fields.size()) {
      return problem("FIELDS", S, decl::kKeyComponentOutOfRange);
    }
    if (caps != nullptr && caps->max_keys != 0 && k >= caps->max_keys) {
      return problem("KEYS", D, decl::kTooManyKeys);
    }
    for (size_t c = 0; c < key.components.size(); ++c) {
      const KeyComponent& comp = key.components[c];
      auto cproblem = [&](std::string attribute, DeclSource source, int msg) {
        return Problem(DeclLevel::kComponent, static_cast<int>(c) + 1, std::move(attribute), source,
                       msg);
      };
      if (comp.field < 0 || static_cast<size_t>(comp.field) >= file.fields.size()) {
        return cproblem("FIELD", S, decl::kComponentOutOfRange);
      }
      if (!file.fields[static_cast<size_t>(comp.field)].dims.empty()) {
        return cproblem("DIM", S, decl::kComponentDimensioned);
      }
      if (caps != nullptr) {
        if (comp.descending && !caps->descending_keys) {
          return cproblem("ASCENDING", D, decl::kNoDescending);
        }
        if (comp.descending != key.components[0].descending && !caps->mixed_keys) {
          return cproblem("ASCENDING", D, decl::kNoMixed);
        }
      }
    }
  }
  return std::nullopt;
}

}  // namespace

int DeclarationProblem::Number() const {
  int base = source == DeclSource::kDeclaration ? 100000 : 200000;
  return base + static_cast<int>(level) * 10000 + message + 1;
}

std::string DeclarationProblem::Text() const {
  if (!text.empty()) return text;
  std::string s = RuntimeString(Number());
  if (!s.empty()) return s;
  return std::string(BuiltInDeclarationText(level, source, message));
}

std::string DeclarationProblem::Report() const {
  std::string level_name(LevelName(level, blob));
  // The widest case: two names, an int, an attribute and "S%05d".
  std::vector<char> buf(level_name.size() + attribute.size() + 64);
  std::snprintf(buf.data(), buf.size(), "%s : %d : %s : %s%05d", level_name.c_str(), item,
                attribute.c_str(), source == DeclSource::kDeclaration ? "S" : "D", message + 1);
  return std::string(buf.data());
}

std::string_view LevelName(DeclLevel level, bool blob) {
  switch (level) {
    case DeclLevel::kSystem:
      return "SYSTEM";
    case DeclLevel::kFile:
      return "FILE";
    case DeclLevel::kField:
      return "FIELD";
    case DeclLevel::kMemo:
      return blob ? "BLOB" : "MEMO";
    case DeclLevel::kKey:
      return "KEY";
    case DeclLevel::kComponent:
      return "COMPONENT";
  }
  return "UNKNOWN";
}

std::string_view BuiltInDeclarationText(DeclLevel level, DeclSource source, int k) {
  const auto& table = source == DeclSource::kDeclaration ? DeclarationTexts() : DriverTexts();
  const Texts& texts = table[static_cast<size_t>(level)];
  if (k < 0 || static_cast<size_t>(k) >= texts.size()) return {};
  return texts[static_cast<size_t>(k)];
}

std::optional<DeclarationProblem> FindDeclarationProblem(const FileDescriptor& file,
                                                         const DriverCapabilities* caps) {
  // Items first, so that an oversized field or group is named; then the
  // record as a whole, then the buffer that has to hold it.
  if (auto p = CheckFields(file, caps)) return p;
  if (std::max<uint64_t>(file.record.size(), file.DeclaredRecordLength()) > kMaxRecordSize) {
    return Problem(DeclLevel::kFile, 1, "SIZE", S, decl::kRecordTooLarge);
  }
  if (auto p = CheckBuffer(file)) return p;
  if (auto p = CheckMemos(file, caps)) return p;
  return CheckKeys(file, caps);
}

int ReportDeclarationProblem(const DeclarationProblem& problem) {
  std::string report = problem.Report();
  t_last_problem = problem;
  ShowRuntimeMessage(report, problem.Text());
  PostError(kInvalidRecordDeclaration, report, problem.attribute);
  return kInvalidRecordDeclaration;
}

int ReportDriverLookupFailure(DriverLookup why) {
  int k = decl::kDriverNotDefined;
  std::string attribute = "DRIVER";
  switch (why) {
    case DriverLookup::kNoDriverSpecified:
      k = decl::kNoFileDriverSpecified;
      break;
    case DriverLookup::kCouldNotLoad:
      k = decl::kDriverCouldNotBeLoaded;
      break;
    case DriverLookup::kNotDefined:
    case DriverLookup::kFound:
      break;
  }
  return ReportDeclarationProblem(Problem(DeclLevel::kFile, 1, attribute, S, k));
}

int CheckFileDeclaration(const FileDescriptor& file) {
  DriverLookup why;
  FileDriver* driver = FindDriver(file.driver, &why);
  if (driver == nullptr) return ReportDriverLookupFailure(why);
  if (auto p = FindDeclarationProblem(file, &driver->Info().capabilities)) {
    return ReportDeclarationProblem(*p);
  }
  return 0;
}

std::optional<DeclarationProblem> LastDeclarationProblem() {
  return t_last_problem;
}
void ClearLastDeclarationProblem() {
  t_last_problem.reset();
}

}  // namespace qzr
