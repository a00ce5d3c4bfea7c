// A small in-memory file driver for the file manager's tests: keyed rows,
// sequential reading by key or row order, HOLD, WATCH with changes by other
// descriptors ("other stations"), saved states, and error injection.
//
// Tables live in the driver by physical name, so two descriptors with the
// same name are two stations on one file. Rows are numbered from 1 in the
// order they are added; key order compares the components through field
// objects (case folded for NOCASE keys), descending components reversed,
// ties by row number.
//
// Positions: POSITIONkey answers the row number as text in `value`,
// POSITIONfile the row number in `result`; REGETkey and REGETfile read them
// back. GETSTATE answers a handle in `result`; RESTORESTATE and FREESTATE
// take it in `position`.
//
// Threads: every call runs under one mutex, as a real driver serialises its
// calls; the test-side setters take it too.

#ifndef QZR_FRAMEWORK_FILE_MANAGER_TEST_DRIVER_H_
#define QZR_FRAMEWORK_FILE_MANAGER_TEST_DRIVER_H_

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "data/file_driver.h"
#include "runtime/core/runtime_error.h"
#include "runtime/values/ufo.h"

namespace qzr::testing {

inline constexpr char kTestDriverName[] = "FMTEST";

class TestDriver : public FileDriver {
 public:
  struct Row {
    std::vector<uint8_t> record;
    std::vector<std::string> memos;
    uint32_t version = 1;
  };
  struct Table {
    bool exists = false;
    std::map<uint32_t, Row> rows;
    uint32_t next_row = 1;
  };

  TestDriver() {
    info_.name = kTestDriverName;
    info_.display_name = "Test (memory)";
    info_.capabilities.types = ~uint64_t{0};
    info_.capabilities.memo = true;
    info_.capabilities.blob = true;
    info_.capabilities.binary_memo = true;
    info_.capabilities.descending_keys = true;
    info_.capabilities.mixed_keys = true;
  }

  const DriverInfo& Info() const override { return info_; }

  // ---- Test controls.
  void Reset() {
    std::lock_guard<std::mutex> lock(mu_);
    tables_.clear();
    fail_.clear();
    log_.clear();
    sends_.clear();
    properties_.clear();
    property_sets_.clear();
    held_.clear();
    read_only_medium_ = false;
    deny_until_recover_ = false;
    needs_rebuild_ = false;
    duplicate_supported_ = true;
    states_.clear();
  }
  // The table `name` exists (empty).
  void MakeTable(const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    tables_[name].exists = true;
  }
  bool TableExists(const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = tables_.find(name);
    return it != tables_.end() && it->second.exists;
  }
  size_t RowCount(const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    return tables_[name].rows.size();
  }
  // The next calls of `op` fail with `code`, one per entry.
  void FailNext(FileOp op, int code, int times = 1) {
    std::lock_guard<std::mutex> lock(mu_);
    for (int i = 0; i < times; ++i) fail_[op].push_back(code);
  }
  void SetReadOnlyMedium(bool on) {
    std::lock_guard<std::mutex> l(mu_);
    read_only_medium_ = on;
  }
  void SetDenyUntilRecover(bool on) {
    std::lock_guard<std::mutex> l(mu_);
    deny_until_recover_ = on;
  }
  void SetNeedsRebuild(bool on) {
    std::lock_guard<std::mutex> l(mu_);
    needs_rebuild_ = on;
  }
  void SetDuplicateSupported(bool on) {
    std::lock_guard<std::mutex> l(mu_);
    duplicate_supported_ = on;
  }
  // Row `row` of `name` is held by another station.
  void Hold(const std::string& name, uint32_t row) {
    std::lock_guard<std::mutex> l(mu_);
    held_.insert({name, row});
  }

  std::vector<FileOp> Log() {
    std::lock_guard<std::mutex> l(mu_);
    return log_;
  }
  void ClearLog() {
    std::lock_guard<std::mutex> l(mu_);
    log_.clear();
  }
  int Count(FileOp op) {
    std::lock_guard<std::mutex> l(mu_);
    return static_cast<int>(std::count(log_.begin(), log_.end(), op));
  }
  std::vector<std::string> Sends() {
    std::lock_guard<std::mutex> l(mu_);
    return sends_;
  }
  // Every value set for property `p`, in order.
  std::vector<std::string> PropertySets(uint32_t p) {
    std::lock_guard<std::mutex> l(mu_);
    return property_sets_[p];
  }
  // Number of GETSTATE handles not yet freed.
  size_t LiveStates() {
    std::lock_guard<std::mutex> l(mu_);
    return states_.size();
  }

  // ---- The driver.
  int Call(FileOp op, FileDescriptor& file, FileArgs& args) override {
    std::lock_guard<std::mutex> lock(mu_);
    log_.push_back(op);
    auto f = fail_.find(op);
    if (f != fail_.end() && !f->second.empty()) {
      int code = f->second.front();
      f->second.pop_front();
      return Post(code);
    }
    State* st = static_cast<State*>(file.state.get());
    const std::string name = file.PhysicalName();
    switch (op) {
      case FileOp::CREATE:
        tables_[name].exists = true;
        return 0;
      case FileOp::OPEN: {
        if (st != nullptr) return Post(kFileAlreadyOpen);
        auto t = tables_.find(name);
        if (t == tables_.end() || !t->second.exists) return Post(2);
        bool write = (file.open_mode & 3) != 0;
        if (write && read_only_medium_) return Post(5);
        if (deny_until_recover_) return Post(5);
        if (needs_rebuild_) return Post(46);
        auto s = std::make_unique<State>();
        s->read_only = !write;
        file.state = std::move(s);
        return 0;
      }
      case FileOp::SEND:
        sends_.push_back(args.driver_string);
        if (args.driver_string.rfind("Recover=", 0) == 0) deny_until_recover_ = false;
        return 0;
      case FileOp::BUILDfile:
        needs_rebuild_ = false;
        return 0;
      default:
        break;
    }
    if (st == nullptr) return Post(kFileNotOpen);
    Table& t = tables_[name];
    switch (op) {
      case FileOp::CLOSE:
        file.state.reset();
        return 0;
      case FileOp::ADD:
      case FileOp::APPEND: {
        if (st->read_only) return Post(5);
        if (Duplicates(file, t, 0, -1)) return Post(40);
        uint32_t n = t.next_row++;
        t.rows[n] = Row{file.record, file.memo_values, 1};
        st->current = n;
        st->watched = 0;
        return 0;
      }
      case FileOp::PUT: {
        if (st->read_only) return Post(5);
        auto r = t.rows.find(st->current);
        if (r == t.rows.end()) return Post(kRecordNotFound);
        if (st->watching && st->watched != 0 && r->second.version != st->watched) return Post(89);
        if (Duplicates(file, t, st->current, -1)) return Post(40);
        r->second.record = file.record;
        r->second.memos = file.memo_values;
        ++r->second.version;
        st->watched = st->watching ? r->second.version : 0;
        return 0;
      }
      case FileOp::DELETE: {
        if (st->read_only) return Post(5);
        if (t.rows.erase(st->current) == 0) return Post(kRecordNotFound);
        st->current = 0;
        return 0;
      }
      case FileOp::WATCH:
        st->watching = true;
        return 0;
      case FileOp::NOMEMO:
        st->nomemo = true;
        return 0;
      case FileOp::GETfilekey: {
        for (auto& [n, row] : t.rows) {
          if (CompareKey(file, args.key, file.record, row.record) == 0)
            return Load(file, st, name, n, row);
        }
        return Post(kRecordNotFound);
      }
      case FileOp::GETfileptr:
      case FileOp::REGETfile: {
        uint32_t n = args.position;
        auto r = t.rows.find(n);
        if (r == t.rows.end()) {
          st->current = 0;
          return Post(kRecordNotFound);
        }
        return Load(file, st, name, n, r->second);
      }
      case FileOp::REGETkey: {
        uint32_t n = static_cast<uint32_t>(std::strtoul(args.value.c_str(), nullptr, 10));
        auto r = t.rows.find(n);
        if (r == t.rows.end()) return Post(kRecordNotFound);
        return Load(file, st, name, n, r->second);
      }
      case FileOp::POSITIONkey:
        if (st->current == 0) return Post(kRecordNotFound);
        args.value = std::to_string(st->current);
        return 0;
      case FileOp::POSITIONfile:
        if (st->current == 0) return Post(kRecordNotFound);
        args.result = st->current;
        return 0;
      case FileOp::SETfile:
        st->cursor = Cursor{-1, Cursor::kEnds, {}, 0};
        return 0;
      case FileOp::SETkey:
        st->cursor = Cursor{args.key, Cursor::kEnds, {}, 0};
        return 0;
      case FileOp::SETkeykey:
        st->cursor = Cursor{args.key, Cursor::kValue, file.record, 0};
        return 0;
      case FileOp::NEXT:
      case FileOp::PREVIOUS:
        return Sequential(file, st, t, name, op == FileOp::NEXT);
      case FileOp::RECORDSfile:
        args.result = static_cast<int64_t>(t.rows.size());
        return 0;
      case FileOp::DUPLICATEkey:
        if (!duplicate_supported_) return Post(kUnsupportedFunction);
        args.result = Duplicates(file, t, 0, args.key) ? 1 : 0;
        return 0;
      case FileOp::GETSTATE: {
        int64_t h = next_state_++;
        states_[h] = *st;
        args.result = h;
        return 0;
      }
      case FileOp::RESTORESTATE: {
        auto s = states_.find(args.position);
        if (s == states_.end()) return Post(kRecordNotFound);
        *st = s->second;
        return 0;
      }
      case FileOp::FREESTATE:
        states_.erase(args.position);
        return 0;
      case FileOp::SET_PROPERTY:
        properties_[{&file, args.property}] = args.value;
        property_sets_[args.property].push_back(args.value);
        return 0;
      case FileOp::GET_PROPERTY: {
        auto p = properties_.find({&file, args.property});
        args.value = p == properties_.end() ? "0" : p->second;
        return 0;
      }
      default:
        return Post(kUnsupportedFunction);
    }
  }

 private:
  struct Cursor {
    enum Kind { kEnds, kValue, kRow };
    int key = -1;  // -1: row order
    Kind kind = kEnds;
    std::vector<uint8_t> value;  // kValue: the key value's record; kRow: the row read
    uint32_t row = 0;
  };
  struct State : DriverFileState {
    bool read_only = false;
    bool nomemo = false;
    bool watching = false;
    uint32_t watched = 0;  // version of the current row when it was read
    uint32_t current = 0;
    Cursor cursor;
  };

  static int Post(int code) {
    PostError(code);
    return code;
  }

  // <0, 0, >0 as record `a` sorts before, with, after `b` in key `key`.
  static int CompareKey(FileDescriptor& file, int key, const std::vector<uint8_t>& a,
                        const std::vector<uint8_t>& b) {
    if (key < 0 || static_cast<size_t>(key) >= file.keys.size()) return 0;
    const KeyDesc& k = file.keys[static_cast<size_t>(key)];
    for (const KeyComponent& c : k.components) {
      const FieldDesc& f = file.fields[static_cast<size_t>(c.field)];
      std::vector<uint8_t> ca(a), cb(b);
      UfoSlot sa, sb;
      UFO* ua = sa.Make(f.type, ca.data() + f.offset, f.size, f.places);
      UFO* ub = sb.Make(f.type, cb.data() + f.offset, f.size, f.places);
      int r;
      if ((k.flags & kKeyNocase) != 0 &&
          (f.type == TypeCode::STRING || f.type == TypeCode::CSTRING ||
           f.type == TypeCode::PSTRING)) {
        r = Upper(Text(ua)).compare(Upper(Text(ub)));
      } else {
        r = ua->Compare(*ub);
      }
      r = r < 0 ? -1 : (r > 0 ? 1 : 0);
      if (c.descending) r = -r;
      if (r != 0) return r;
    }
    return 0;
  }
  static std::string Text(UFO* u) {
    char buf[1024];
    size_t n = std::min(u->GetText(buf, sizeof buf), sizeof buf);
    std::string s(buf, n);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }
  static std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }

  // Whether the buffer would duplicate another row (not `self`) in a key
  // without DUP: key `only`, or every key when it is -1.
  static bool Duplicates(FileDescriptor& file, Table& t, uint32_t self, int only) {
    for (size_t k = 0; k < file.keys.size(); ++k) {
      if (only >= 0 && static_cast<int>(k) != only) continue;
      if ((file.keys[k].flags & kKeyDup) != 0) continue;
      for (auto& [n, row] : t.rows) {
        if (n != self && CompareKey(file, static_cast<int>(k), file.record, row.record) == 0)
          return true;
      }
    }
    return false;
  }

  int Load(FileDescriptor& file, State* st, const std::string& name, uint32_t n, Row& row) {
    if (held_.count({name, n}) != 0) return Post(43);
    file.record = row.record;
    if (!st->nomemo) file.memo_values = row.memos;
    st->nomemo = false;
    st->current = n;
    st->watched = st->watching ? row.version : 0;
    return 0;
  }

  int Sequential(FileDescriptor& file, State* st, Table& t, const std::string& name, bool next) {
    Cursor& c = st->cursor;
    // Rows in the cursor's order.
    std::vector<uint32_t> order;
    for (auto& [n, row] : t.rows) order.push_back(n);
    if (c.key >= 0) {
      std::stable_sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
        int r = CompareKey(file, c.key, t.rows[x].record, t.rows[y].record);
        return r != 0 ? r < 0 : x < y;
      });
    }
    auto cmp = [&](uint32_t n) {  // <0, 0, >0: row n against the cursor
      if (c.key < 0) return n < c.row ? -1 : (n > c.row ? 1 : 0);
      int r = CompareKey(file, c.key, t.rows[n].record, c.value);
      if (r != 0 || c.kind == Cursor::kValue) return r;
      return n < c.row ? -1 : (n > c.row ? 1 : 0);
    };
    uint32_t found = 0;
    if (next) {
      for (uint32_t n : order) {
        if (c.kind == Cursor::kEnds || (c.kind == Cursor::kValue ? cmp(n) >= 0 : cmp(n) > 0)) {
          found = n;
          break;
        }
      }
    } else {
      for (auto it = order.rbegin(); it != order.rend(); ++it) {
        if (c.kind == Cursor::kEnds || (c.kind == Cursor::kValue ? cmp(*it) <= 0 : cmp(*it) < 0)) {
          found = *it;
          break;
        }
      }
    }
    if (found == 0) {
      st->nomemo = false;
      return Post(kRecordNotAvailable);
    }
    // The cursor moves onto the row even when it is held, so that the next
    // read goes past it.
    c.kind = Cursor::kRow;
    c.row = found;
    c.value = t.rows[found].record;
    return Load(file, st, name, found, t.rows[found]);
  }

  DriverInfo info_;
  std::mutex mu_;
  std::map<std::string, Table> tables_;
  std::map<FileOp, std::deque<int>> fail_;
  std::vector<FileOp> log_;
  std::vector<std::string> sends_;
  std::map<std::pair<const FileDescriptor*, uint32_t>, std::string> properties_;
  std::map<uint32_t, std::vector<std::string>> property_sets_;
  std::set<std::pair<std::string, uint32_t>> held_;
  std::map<int64_t, State> states_;
  int64_t next_state_ = 1;
  bool read_only_medium_ = false;
  bool deny_until_recover_ = false;
  bool needs_rebuild_ = false;
  bool duplicate_supported_ = true;
};

// The process's test driver, registered under kTestDriverName on first use.
inline TestDriver& TheTestDriver() {
  static TestDriver* driver = [] {
    auto d = std::make_unique<TestDriver>();
    TestDriver* raw = d.get();
    RegisterDriver(std::move(d));
    return raw;
  }();
  return *driver;
}

}  // namespace qzr::testing

#endif  // QZR_FRAMEWORK_FILE_MANAGER_TEST_DRIVER_H_
