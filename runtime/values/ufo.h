// Field objects: UFO reads and writes one value of any storage type.
//
// A field object records where a value lives (an address, usually inside a
// record buffer or a variable), its type and its length, and converts
// between that storage form and LONG, REAL, decimal and text. One class per
// storage type, under four families whose value class decides how a value is
// computed:
//
//   UFO                 value class
//    +- UfoLong          Integer    UfoByte, UfoShort, UfoUShort, UfoDate, UfoTime
//    +- UfoDecimal       Decimal    UfoPDecimal, UfoULong
//    +- UfoReal          Real       UfoSReal, UfoBFloat4, UfoBFloat8
//    +- UfoString        String     UfoCString, UfoPString, UfoRefString,
//    |                              UfoOleString
//    +- UfoVariantRef    chosen by what the variant holds
//    +- temporaries      Temporary  UfoTempLong, UfoTempDecimal, UfoTempReal,
//                                   UfoTempString: owned intermediate results
//
// The concrete classes are constructed in place over existing storage
// (`UfoLong f(record + 12);`) without touching the heap, and reads and writes
// of values through them never allocate. MakeUfo builds one from a type code;
// UfoSlot does the same inside caller-provided space.
//
// The behaviour set is what every class answers, each operation under its
// own name; the base class's versions of the ones a class must supply end
// in the fatal path.
//
// Threads: a field object is not synchronised; the thread that uses the
// storage it points at owns it. The push and pop operations use the calling
// thread's value stack.

#ifndef QZR_RUNTIME_UFO_H_
#define QZR_RUNTIME_UFO_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/values/decimal.h"
#include "runtime/values/types.h"

namespace qzr {

// Flags byte of a field object.
inline constexpr uint8_t kUfoOwnsStorage = 0x01;  // the object allocated its bytes

// Longest text GetText can give for a number (a REAL or a decimal).
inline constexpr size_t kMaxNumberText = Decimal::kMaxText + 8;

class UFO {
 public:
  virtual ~UFO();
  UFO(const UFO&) = delete;
  UFO& operator=(const UFO&) = delete;

  // ---- The behaviour set. The base versions of the operations a class must
  // supply take the fatal path with runtime error 410.

  // Store `v`, converted to this object's storage form.
  virtual void SetLong(int32_t v);
  virtual void SetReal(double v);
  // Reads `other` in this object's value class and stores it.
  virtual void SetUfo(const UFO& other);
  // Compares through the value classes, for operands whose types or lengths
  // differ: -1, 0 or 1. Strings against strings compare as text; otherwise
  // the wider numeric class of the two decides (real, then decimal, then
  // integer), a string being read as a number.
  virtual int CompareByClass(const UFO& other) const;
  // A class that reports a string type code (STRING, CSTRING, PSTRING,
  // REFSTRING) derives from UfoString: string comparison relies on it.
  virtual TypeCode Type() const;
  // Store the text or decimal popped from the thread's value stack; push
  // the value as text or as a decimal.
  virtual void PopString();
  virtual void PushString() const;
  virtual void PopDecimal();
  virtual void PushDecimal() const;
  // The value read as a REAL or as a LONG.
  virtual double GetReal() const;
  virtual int32_t GetLong() const;
  // direction 0: the neutral value; > 0: the highest; < 0: the lowest.
  virtual void Clear(int direction);
  // A new field object of the same class over the same storage. It never
  // owns that storage: it must not outlive the object it was cloned from
  // when that one owns its bytes.
  virtual std::unique_ptr<UFO> Clone() const;
  // The bytes the value takes in its storage.
  virtual uint32_t Size() const;
  virtual ValueClass GetValueClass() const;
  // True iff the value counts as false in a condition (zero, or blank text).
  virtual bool IsFalse() const;
  // Convert the stored text between the OEM and the ANSI code page.
  virtual void OemToAnsi();
  virtual void AnsiToOem();
  // Compares with `other` in this object's value class: -1, 0 or 1.
  virtual int Compare(const UFO& other) const;
  // Writes the stored bytes to `buffer` and returns their count (Size()).
  virtual size_t StoreRaw(void* buffer) const;

  // ---- Further operations.

  // Assigns text: strings copy it, numbers parse it (see text_number.h).
  virtual void SetText(std::string_view text);
  // Writes the value as text into `buf` (at most `cap` bytes, no
  // terminator) and returns the text's full length. Strings give their
  // stored text (a STRING all n bytes, trailing spaces included); integers
  // their decimal value (DATE and TIME their standard date or time);
  // decimals the canonical decimal text; reals up to 15 significant digits.
  virtual size_t GetText(char* buf, size_t cap) const;
  virtual void SetDecimal(const Decimal& d);
  virtual Decimal GetDecimal() const;
  // The family this object computes in: GetValueClass(), except for the
  // temporaries, whose value class is Temporary and whose family is that of the
  // value they hold.
  virtual ValueClass ComputeClass() const { return GetValueClass(); }

  // Convenience: the value as text (allocates).
  std::string Text() const;

  // ---- Fields.
  uint8_t* Address() const { return address_; }
  uint8_t Flags() const { return flags_; }
  bool OwnsStorage() const { return (flags_ & kUfoOwnsStorage) != 0; }
  // Byte count for strings and decimals; 0 for the fixed-size classes.
  uint32_t Length() const { return length_; }
  uint8_t Places() const { return places_; }  // decimal classes only
  // Points a non-owning object at other storage of the same layout (the
  // next record buffer, the next array element). REQUIRES: !OwnsStorage().
  void Rebind(void* address);

 protected:
  UFO(void* address, uint32_t length, uint8_t places)
      : address_(static_cast<uint8_t*>(address)), length_(length), places_(places) {}

  // Allocates `bytes` of owned storage, copying `initial` into it when given
  // (zero-filled otherwise), and sets kUfoOwnsStorage.
  void AllocateOwned(size_t bytes, const void* initial);
  void FreeOwned();

  // Text of `other` without allocating when it fits `buf`; `spill` holds
  // longer texts.
  static std::string_view TextOf(const UFO& other, char* buf, size_t cap, std::string* spill);

  uint8_t* address_;
  uint8_t flags_ = 0;
  uint32_t length_;
  uint8_t places_;

  friend std::unique_ptr<UFO> MakeUfo(uint8_t, void*, uint32_t, uint8_t, bool, const void*);
  friend class UfoSlot;
};

// ------------------------------------------------------------------------
// Integer family: ValueClass::Integer. Values pass through a LONG.

class UfoLong : public UFO {
 public:
  explicit UfoLong(void* address) : UFO(address, 0, 0) {}

  // Each integer class overrides SetLong, GetLong and GetReal with direct
  // calls of its own storage form, so an access costs one indirect call.
  void SetLong(int32_t v) override { UfoLong::StoreLong(v); }
  // Truncates toward zero; out of range or NaN gives -2147483648.
  void SetReal(double v) override;
  void SetUfo(const UFO& other) override;
  TypeCode Type() const override { return TypeCode::LONG; }
  void PopString() override;
  void PushString() const override;
  void PopDecimal() override;
  void PushDecimal() const override;
  double GetReal() const override { return UfoLong::LoadLong(); }
  int32_t GetLong() const override { return UfoLong::LoadLong(); }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  uint32_t Size() const override { return 4; }
  ValueClass GetValueClass() const override { return ValueClass::Integer; }
  bool IsFalse() const override { return LoadLong() == 0; }
  void OemToAnsi() override {}
  void AnsiToOem() override {}
  int Compare(const UFO& other) const override;
  size_t StoreRaw(void* buffer) const override;
  // Parses with the near-integer correction (2.9999999999999999 gives 3).
  void SetText(std::string_view text) override;
  size_t GetText(char* buf, size_t cap) const override;
  // Truncates toward zero.
  void SetDecimal(const Decimal& d) override { SetLong(d.ToLong()); }
  Decimal GetDecimal() const override { return Decimal::FromLong(LoadLong()); }

 protected:
  // The storage form of each integer type: read as a LONG, write a LONG.
  virtual int32_t LoadLong() const {
    return static_cast<int32_t>(
        static_cast<uint32_t>(address_[0]) | static_cast<uint32_t>(address_[1]) << 8 |
        static_cast<uint32_t>(address_[2]) << 16 | static_cast<uint32_t>(address_[3]) << 24);
  }
  virtual void StoreLong(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    address_[0] = static_cast<uint8_t>(u);
    address_[1] = static_cast<uint8_t>(u >> 8);
    address_[2] = static_cast<uint8_t>(u >> 16);
    address_[3] = static_cast<uint8_t>(u >> 24);
  }
};

class UfoByte : public UfoLong {
 public:
  explicit UfoByte(void* address) : UfoLong(address) {}
  void SetLong(int32_t v) override { UfoByte::StoreLong(v); }
  int32_t GetLong() const override { return UfoByte::LoadLong(); }
  double GetReal() const override { return UfoByte::LoadLong(); }
  TypeCode Type() const override { return TypeCode::BYTE; }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  uint32_t Size() const override { return 1; }
  size_t StoreRaw(void* buffer) const override;

 protected:
  int32_t LoadLong() const override { return address_[0]; }
  void StoreLong(int32_t v) override { address_[0] = static_cast<uint8_t>(v); }
};

class UfoShort : public UfoLong {
 public:
  explicit UfoShort(void* address) : UfoLong(address) {}
  void SetLong(int32_t v) override { UfoShort::StoreLong(v); }
  int32_t GetLong() const override { return UfoShort::LoadLong(); }
  double GetReal() const override { return UfoShort::LoadLong(); }
  TypeCode Type() const override { return TypeCode::SHORT; }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  uint32_t Size() const override { return 2; }
  size_t StoreRaw(void* buffer) const override;

 protected:
  int32_t LoadLong() const override { return static_cast<int16_t>(address_[0] | address_[1] << 8); }
  void StoreLong(int32_t v) override {
    address_[0] = static_cast<uint8_t>(v);
    address_[1] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> 8);
  }
};

class UfoUShort : public UfoLong {
 public:
  explicit UfoUShort(void* address) : UfoLong(address) {}
  void SetLong(int32_t v) override { UfoUShort::StoreLong(v); }
  int32_t GetLong() const override { return UfoUShort::LoadLong(); }
  double GetReal() const override { return UfoUShort::LoadLong(); }
  TypeCode Type() const override { return TypeCode::USHORT; }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  uint32_t Size() const override { return 2; }
  size_t StoreRaw(void* buffer) const override;

 protected:
  int32_t LoadLong() const override { return address_[0] | address_[1] << 8; }
  void StoreLong(int32_t v) override {
    address_[0] = static_cast<uint8_t>(v);
    address_[1] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> 8);
  }
};

// DATE: day, month, year (16-bit) in storage; a standard date as a LONG.
class UfoDate : public UfoLong {
 public:
  explicit UfoDate(void* address) : UfoLong(address) {}
  void SetLong(int32_t v) override { UfoDate::StoreLong(v); }
  int32_t GetLong() const override { return UfoDate::LoadLong(); }
  double GetReal() const override { return UfoDate::LoadLong(); }
  TypeCode Type() const override { return TypeCode::DATE; }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;

 protected:
  // A stored year above 9999 reads as 31 December 9999; an invalid
  // combination as 0.
  int32_t LoadLong() const override;
  // A value that is no valid standard date stores four zero bytes.
  void StoreLong(int32_t v) override;
};

// TIME: hundredths, seconds, minutes, hours in storage; a standard time as a
// LONG.
class UfoTime : public UfoLong {
 public:
  explicit UfoTime(void* address) : UfoLong(address) {}
  void SetLong(int32_t v) override { UfoTime::StoreLong(v); }
  int32_t GetLong() const override { return UfoTime::LoadLong(); }
  double GetReal() const override { return UfoTime::LoadLong(); }
  TypeCode Type() const override { return TypeCode::TIME; }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;

 protected:
  // Four zero bytes read as 0; a part out of range as -1.
  int32_t LoadLong() const override;
  // A value outside 1..8640000 stores four zero bytes.
  void StoreLong(int32_t v) override;
};

// ------------------------------------------------------------------------
// Decimal family: ValueClass::Decimal. Values pass through a Decimal.

class UfoDecimal : public UFO {
 public:
  // `bytes`: the field's byte count (DecimalBytes(digits)); `places`: its
  // decimal places.
  UfoDecimal(void* address, uint8_t bytes, uint8_t places) : UFO(address, bytes, places) {}

  void SetLong(int32_t v) override { StoreDecimalValue(Decimal::FromLong(v)); }
  void SetReal(double v) override { StoreDecimalValue(Decimal::FromDouble(v)); }
  void SetUfo(const UFO& other) override { StoreDecimalValue(other.GetDecimal()); }
  TypeCode Type() const override { return TypeCode::DECIMAL; }
  void PopString() override;
  void PushString() const override;
  void PopDecimal() override;
  void PushDecimal() const override;
  double GetReal() const override { return LoadDecimalValue().ToDouble(); }
  int32_t GetLong() const override { return LoadDecimalValue().ToLong(); }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  uint32_t Size() const override { return length_; }
  ValueClass GetValueClass() const override { return ValueClass::Decimal; }
  bool IsFalse() const override { return LoadDecimalValue().IsZero(); }
  void OemToAnsi() override {}
  void AnsiToOem() override {}
  int Compare(const UFO& other) const override;
  size_t StoreRaw(void* buffer) const override;
  // Parses the text exactly (no binary rounding); text that is no number
  // stores zero.
  void SetText(std::string_view text) override;
  size_t GetText(char* buf, size_t cap) const override;
  void SetDecimal(const Decimal& d) override { StoreDecimalValue(d); }
  Decimal GetDecimal() const override { return LoadDecimalValue(); }

 protected:
  virtual Decimal LoadDecimalValue() const;
  virtual void StoreDecimalValue(const Decimal& d);
};

class UfoPDecimal : public UfoDecimal {
 public:
  UfoPDecimal(void* address, uint8_t bytes, uint8_t places) : UfoDecimal(address, bytes, places) {}
  TypeCode Type() const override { return TypeCode::PDECIMAL; }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;

 protected:
  Decimal LoadDecimalValue() const override;
  void StoreDecimalValue(const Decimal& d) override;
};

// ULONG: computed as a decimal so that its whole unsigned range survives
// arithmetic.
class UfoULong : public UfoDecimal {
 public:
  explicit UfoULong(void* address) : UfoDecimal(address, 4, 0) {}
  TypeCode Type() const override { return TypeCode::ULONG; }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  size_t GetText(char* buf, size_t cap) const override;

 protected:
  Decimal LoadDecimalValue() const override;
  void StoreDecimalValue(const Decimal& d) override;
};

// ------------------------------------------------------------------------
// Real family: ValueClass::Real. Values pass through a double.

class UfoReal : public UFO {
 public:
  explicit UfoReal(void* address) : UFO(address, 0, 0) {}

  void SetLong(int32_t v) override { StoreReal(v); }
  void SetReal(double v) override { StoreReal(v); }
  void SetUfo(const UFO& other) override { StoreReal(other.GetReal()); }
  TypeCode Type() const override { return TypeCode::REAL; }
  void PopString() override;
  void PushString() const override;
  void PopDecimal() override;
  void PushDecimal() const override;
  double GetReal() const override { return LoadReal(); }
  // Truncates toward zero; out of range or NaN gives -2147483648.
  int32_t GetLong() const override;
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  uint32_t Size() const override { return 8; }
  ValueClass GetValueClass() const override { return ValueClass::Real; }
  bool IsFalse() const override { return LoadReal() == 0.0; }
  void OemToAnsi() override {}
  void AnsiToOem() override {}
  int Compare(const UFO& other) const override;
  size_t StoreRaw(void* buffer) const override;
  // Parses at most the first 40 characters; text that is no number stores 0.
  void SetText(std::string_view text) override;
  size_t GetText(char* buf, size_t cap) const override;
  void SetDecimal(const Decimal& d) override { StoreReal(d.ToDouble()); }
  Decimal GetDecimal() const override { return Decimal::FromDouble(LoadReal()); }

 protected:
  virtual double LoadReal() const;
  virtual void StoreReal(double v);
};

class UfoSReal : public UfoReal {
 public:
  explicit UfoSReal(void* address) : UfoReal(address) {}
  TypeCode Type() const override { return TypeCode::SREAL; }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  uint32_t Size() const override { return 4; }
  size_t StoreRaw(void* buffer) const override;

 protected:
  double LoadReal() const override;
  void StoreReal(double v) override;
};

class UfoBFloat4 : public UfoReal {
 public:
  explicit UfoBFloat4(void* address) : UfoReal(address) {}
  TypeCode Type() const override { return TypeCode::BFLOAT4; }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  uint32_t Size() const override { return 4; }
  size_t StoreRaw(void* buffer) const override;

 protected:
  double LoadReal() const override;
  void StoreReal(double v) override;
};

class UfoBFloat8 : public UfoReal {
 public:
  explicit UfoBFloat8(void* address) : UfoReal(address) {}
  TypeCode Type() const override { return TypeCode::BFLOAT8; }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  size_t StoreRaw(void* buffer) const override;

 protected:
  double LoadReal() const override;
  void StoreReal(double v) override;
};

// ------------------------------------------------------------------------
// String family: ValueClass::String. Values pass through text.

// STRING (and GROUP): n bytes padded with spaces.
class UfoString : public UFO {
 public:
  UfoString(void* address, uint32_t length) : UFO(address, length, 0) {}

  // Numbers are written as text (GetText of a LONG, REAL or decimal).
  void SetLong(int32_t v) override;
  void SetReal(double v) override;
  void SetUfo(const UFO& other) override;
  TypeCode Type() const override { return TypeCode::STRING; }
  void PopString() override;
  void PushString() const override;
  // Pops a decimal and stores its canonical text.
  void PopDecimal() override;
  // Pushes the text read as a number (zero when it is none).
  void PushDecimal() const override;
  // Text read as a number: at most 40 characters; zero when it is none.
  double GetReal() const override;
  // The same, with the near-integer correction.
  int32_t GetLong() const override;
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  uint32_t Size() const override { return length_; }
  ValueClass GetValueClass() const override { return ValueClass::String; }
  // True when the text is empty or all spaces.
  bool IsFalse() const override;
  void OemToAnsi() override;
  void AnsiToOem() override;
  // Same type code and length: the texts through the collating sequence;
  // otherwise CompareByClass.
  int Compare(const UFO& other) const override;
  size_t StoreRaw(void* buffer) const override;
  void SetText(std::string_view text) override;
  size_t GetText(char* buf, size_t cap) const override;
  void SetDecimal(const Decimal& d) override;
  Decimal GetDecimal() const override;

  // The stored text, without copying. REQUIRES: HasDirectText().
  virtual std::string_view TextView() const;
  // False for the classes whose text is not stored as bytes (OLE strings);
  // read those with GetText.
  virtual bool HasDirectText() const { return true; }

 protected:
  // The bytes OemToAnsi and AnsiToOem convert.
  virtual size_t TextExtent() const { return length_; }
  // The text: TextView() for the byte-stored classes, else GetText into
  // `buf` (or `spill` when longer than `cap`).
  std::string_view ReadText(char* buf, size_t cap, std::string* spill) const;
};

// CSTRING: at most n-1 characters and a terminating 0. The bytes after the
// terminator are kept zero, so a shorter assignment leaves no stale tail.
class UfoCString : public UfoString {
 public:
  UfoCString(void* address, uint32_t length) : UfoString(address, length) {}
  TypeCode Type() const override { return TypeCode::CSTRING; }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  void SetText(std::string_view text) override;
  std::string_view TextView() const override;

 protected:
  size_t TextExtent() const override { return TextView().size(); }
};

// PSTRING: a length byte, then at most n-1 characters; the bytes after the
// text are kept zero.
class UfoPString : public UfoString {
 public:
  UfoPString(void* address, uint32_t length) : UfoString(address, length) {}
  TypeCode Type() const override { return TypeCode::PSTRING; }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  void OemToAnsi() override;
  void AnsiToOem() override;
  void SetText(std::string_view text) override;
  // The length byte is clamped to n-1, so a corrupt one never reads past
  // the field.
  std::string_view TextView() const override;
};

// A reference to a string value of a given length (REFSTRING; ANY makes one
// of 4 bytes). The address is that of the referenced bytes, so it reads and
// writes like a STRING of that length.
class UfoRefString : public UfoString {
 public:
  UfoRefString(void* address, uint32_t length) : UfoString(address, length) {}
  TypeCode Type() const override { return TypeCode::REFSTRING; }
  std::unique_ptr<UFO> Clone() const override;
};

// OLE automation strings (OLESTRING1 and OLESTRING2): a length-prefixed
// UTF-16 string allocated by the runtime (OleStringAlloc). For OLESTRING1 the
// storage holds the string pointer; for OLESTRING2 it holds a pointer to such
// a pointer (a string passed by reference). Text is exchanged as Latin-1: characters
// above U+00FF read as "?". Assignments replace (free and allocate) the
// string, so they allocate.
class UfoOleString : public UfoString {
 public:
  UfoOleString(void* address, TypeCode code);
  // An object that owns its storage frees the string it holds.
  ~UfoOleString() override;
  TypeCode Type() const override { return code_; }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  uint32_t Size() const override { return sizeof(void*); }
  void OemToAnsi() override;
  void AnsiToOem() override;
  int Compare(const UFO& other) const override;
  size_t StoreRaw(void* buffer) const override;
  void SetText(std::string_view text) override;
  size_t GetText(char* buf, size_t cap) const override;
  bool IsFalse() const override;
  std::string_view TextView() const override { return {}; }
  bool HasDirectText() const override { return false; }

 private:
  // Where the string pointer lives: the storage itself (OLESTRING1), or the
  // place the storage points at (OLESTRING2; nullptr when that pointer is null, and then
  // reads give "" and writes are dropped).
  uint8_t* SlotAddress() const;
  char16_t* Get() const;
  void Put(char16_t* s);
  TypeCode code_;
};

// Length-prefixed UTF-16 strings for UfoOleString. OleStringAlloc returns a
// pointer to the first unit (the byte length sits in the 4 bytes before it,
// a 0 unit after the last); OleStringFree accepts nullptr.
char16_t* OleStringAlloc(std::u16string_view text);
void OleStringFree(char16_t* s);
uint32_t OleStringLength(const char16_t* s);  // units; 0 for nullptr

// ------------------------------------------------------------------------
// Variant reference (VARIANTREF).

// A variant: a value whose type is chosen when it is assigned. `type` names
// what it holds; integers (BYTE, SHORT, USHORT, LONG) live in long_value,
// reals (SREAL, REAL) in real_value, anything else in text.
struct Variant {
  TypeCode type = TypeCode::STRING;
  int32_t long_value = 0;
  double real_value = 0.0;
  std::string text;
};

// Reads and writes a Variant (the address is a Variant*). Its value class is
// integer, real or string after what the variant holds; assignment of a LONG
// makes it hold a LONG, of a REAL a REAL, of anything else text.
class UfoVariantRef : public UFO {
 public:
  explicit UfoVariantRef(Variant* variant) : UFO(variant, 0, 0) {}
  // An object made by MakeUfo with its own storage owns a Variant.
  ~UfoVariantRef() override;

  void SetLong(int32_t v) override;
  void SetReal(double v) override;
  void SetUfo(const UFO& other) override;
  TypeCode Type() const override { return TypeCode::VARIANTREF; }
  void PopString() override;
  void PushString() const override;
  void PopDecimal() override;
  void PushDecimal() const override;
  double GetReal() const override;
  int32_t GetLong() const override;
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  uint32_t Size() const override;
  ValueClass GetValueClass() const override;
  bool IsFalse() const override;
  void OemToAnsi() override;
  void AnsiToOem() override;
  int Compare(const UFO& other) const override;
  size_t StoreRaw(void* buffer) const override;
  void SetText(std::string_view text) override;
  size_t GetText(char* buf, size_t cap) const override;
  void SetDecimal(const Decimal& d) override;
  Decimal GetDecimal() const override;

 private:
  Variant& V() const { return *reinterpret_cast<Variant*>(address_); }
};

// ------------------------------------------------------------------------
// Temporaries: owned intermediate results with ValueClass::Temporary. Their
// type code is that of the value they hold (LONG, DECIMAL, REAL, STRING),
// and ComputeClass() gives that value's family. The fixed-size ones keep
// their value inside the object, so making one does not allocate. A clone
// is an object of the held value's class (UfoLong, UfoReal, ...) over the
// temporary's storage.

class UfoTempLong : public UfoLong {
 public:
  explicit UfoTempLong(int32_t v = 0);
  ValueClass GetValueClass() const override { return ValueClass::Temporary; }
  ValueClass ComputeClass() const override { return ValueClass::Integer; }

 private:
  alignas(4) uint8_t value_[4];
};

class UfoTempReal : public UfoReal {
 public:
  explicit UfoTempReal(double v = 0.0);
  ValueClass GetValueClass() const override { return ValueClass::Temporary; }
  ValueClass ComputeClass() const override { return ValueClass::Real; }

 private:
  alignas(8) uint8_t value_[8];
};

// Holds a Decimal exactly: all 32 integer and 32 fractional digits, with no
// storage rounding.
class UfoTempDecimal : public UfoDecimal {
 public:
  explicit UfoTempDecimal(const Decimal& d = Decimal());
  ValueClass GetValueClass() const override { return ValueClass::Temporary; }
  ValueClass ComputeClass() const override { return ValueClass::Decimal; }
  void Clear(int direction) override;
  std::unique_ptr<UFO> Clone() const override;
  size_t StoreRaw(void* buffer) const override;

 protected:
  Decimal LoadDecimalValue() const override { return value_; }
  void StoreDecimalValue(const Decimal& d) override { value_ = d; }

 private:
  Decimal value_;
};

// An owned string whose length follows the text assigned to it.
class UfoTempString : public UfoString {
 public:
  explicit UfoTempString(std::string_view text = {});
  ~UfoTempString() override;
  ValueClass GetValueClass() const override { return ValueClass::Temporary; }
  ValueClass ComputeClass() const override { return ValueClass::String; }
  void SetText(std::string_view text) override;

 private:
  uint32_t capacity_ = 0;
};

// ------------------------------------------------------------------------
// Factory.

// Makes the field object for `code` (a TypeCode value): the length is the
// byte count for strings and decimals and is ignored for the fixed-size
// types; `places` applies to decimals. With `owns_storage` the object
// allocates the bytes itself (copying `initial` into them when given, zero
// otherwise) and `address` is ignored; else it refers to `address`. Code 15
// makes a reference of length 4, 22 a STRING. An unknown code takes the
// fatal path: runtime error 501, "Make UFO Error".
std::unique_ptr<UFO> MakeUfo(uint8_t code, void* address, uint32_t length, uint8_t places,
                             bool owns_storage, const void* initial = nullptr);
inline std::unique_ptr<UFO> MakeUfo(TypeCode code, void* address, uint32_t length = 0,
                                    uint8_t places = 0, bool owns_storage = false,
                                    const void* initial = nullptr) {
  return MakeUfo(static_cast<uint8_t>(code), address, length, places, owns_storage, initial);
}

// Space for one field object of any class, so a field object can be made
// for a type known only at run time without a heap allocation. The object
// lives until Reset() or the slot's destruction.
class UfoSlot {
 public:
  UfoSlot() = default;
  ~UfoSlot() { Reset(); }
  UfoSlot(const UfoSlot&) = delete;
  UfoSlot& operator=(const UfoSlot&) = delete;

  // As MakeUfo, over storage owned elsewhere; replaces any object the slot
  // held. The same fatal path for an unknown code.
  UFO* Make(uint8_t code, void* address, uint32_t length = 0, uint8_t places = 0);
  UFO* Make(TypeCode code, void* address, uint32_t length = 0, uint8_t places = 0) {
    return Make(static_cast<uint8_t>(code), address, length, places);
  }
  UFO* get() const { return ufo_; }
  UFO* operator->() const { return ufo_; }
  UFO& operator*() const { return *ufo_; }
  void Reset();

  static constexpr size_t kSize = 96;

 private:
  alignas(std::max_align_t) unsigned char raw_[kSize];
  UFO* ufo_ = nullptr;
};

}  // namespace qzr

#endif  // QZR_RUNTIME_UFO_H_
