#include "dbengine/expr.hpp"

#include <cmath>
#include <cstdlib>
#include <variant>

#include "common/text.hpp"

namespace vz::db {

namespace {

enum class Op {
  kField, kDeleted, kString, kNumber, kLogical, kNot, kAnd, kOr, kEq, kExactEq, kNe, kLt, kLe, kGt, kGe,
  kContains, kConcat, kUpper, kLower, kTrim, kLTrim, kAllTrim, kSubstr
};

struct Value {
  Expression::Type type = Expression::Type::kLogical;
  std::string s;
  double n = 0;
  bool b = false;
};

}  // namespace

struct Expression::Node {
  Op op;
  Type type;
  int width = 0;
  int field = -1;  // kField: index; offset and width below
  int fieldOffset = 0;
  Value literal;
  std::vector<std::shared_ptr<const Node>> args;
};

namespace {

using NodePtr = std::shared_ptr<const Expression::Node>;
using Type = Expression::Type;

enum class Tok { kEnd, kIdent, kString, kNumber, kDotWord, kOp, kLParen, kRParen, kComma };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;  // identifiers and dot words upper case
  std::size_t pos = 0;
};

class Parser {
 public:
  Parser(std::string_view text, const std::vector<DbfField>& fields) : text_(text), fields_(fields) { Next(); }

  NodePtr ParseAll() {
    NodePtr n = ParseOr();
    if (tok_.kind != Tok::kEnd) Fail("unexpected \"" + tok_.text + "\"");
    return n;
  }

 private:
  [[noreturn]] void Fail(const std::string& why) const {
    throw DbError("expression \"" + std::string(text_) + "\": " + why);
  }

  void Next() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    tok_ = Token{};
    tok_.pos = pos_;
    if (pos_ >= text_.size()) return;
    const char c = text_[pos_];
    auto isAlpha = [](char ch) { return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || ch == '_'; };
    auto isDigit = [](char ch) { return ch >= '0' && ch <= '9'; };
    if (isAlpha(c)) {
      std::size_t e = pos_;
      while (e < text_.size() && (isAlpha(text_[e]) || isDigit(text_[e]))) ++e;
      tok_ = {Tok::kIdent, UpperAscii(text_.substr(pos_, e - pos_)), pos_};
      pos_ = e;
    } else if (isDigit(c) || (c == '.' && pos_ + 1 < text_.size() && isDigit(text_[pos_ + 1]))) {
      std::size_t e = pos_;
      while (e < text_.size() && (isDigit(text_[e]) || text_[e] == '.')) ++e;
      tok_ = {Tok::kNumber, std::string(text_.substr(pos_, e - pos_)), pos_};
      pos_ = e;
    } else if (c == '.') {
      const std::size_t close = text_.find('.', pos_ + 1);
      if (close == std::string_view::npos) Fail("unmatched '.'");
      tok_ = {Tok::kDotWord, UpperAscii(text_.substr(pos_ + 1, close - pos_ - 1)), pos_};
      pos_ = close + 1;
    } else if (c == '\'' || c == '"' || c == '[') {
      const char endc = c == '[' ? ']' : c;
      const std::size_t close = text_.find(endc, pos_ + 1);
      if (close == std::string_view::npos) Fail("unterminated string");
      tok_ = {Tok::kString, std::string(text_.substr(pos_ + 1, close - pos_ - 1)), pos_};
      pos_ = close + 1;
    } else if (c == '(') {
      tok_ = {Tok::kLParen, "(", pos_++};
    } else if (c == ')') {
      tok_ = {Tok::kRParen, ")", pos_++};
    } else if (c == ',') {
      tok_ = {Tok::kComma, ",", pos_++};
    } else {
      static const char* const kOps[] = {"==", "<>", "!=", "<=", ">=", "=", "<", ">", "#", "$", "+", "!"};
      for (const char* op : kOps) {
        const std::string_view o(op);
        if (text_.substr(pos_, o.size()) == o) {
          tok_ = {Tok::kOp, std::string(o), pos_};
          pos_ += o.size();
          return;
        }
      }
      Fail(Format("unexpected character '%c'", c));
    }
  }

  bool IsOp(const char* op) const { return tok_.kind == Tok::kOp && tok_.text == op; }
  bool IsDot(const char* word) const { return tok_.kind == Tok::kDotWord && tok_.text == word; }

  static NodePtr Make(Op op, Type type, std::vector<NodePtr> args, int width = 0) {
    auto n = std::make_shared<Expression::Node>();
    n->op = op;
    n->type = type;
    n->args = std::move(args);
    n->width = width;
    return n;
  }

  void Expect(const NodePtr& n, Type type, const char* what) const {
    if (n->type != type) {
      const char* names[] = {"text", "a logical value", "a number"};
      Fail(std::string(what) + " needs " + names[static_cast<int>(type)]);
    }
  }

  NodePtr ParseOr() {
    NodePtr left = ParseAnd();
    while (IsDot("OR")) {
      Next();
      NodePtr right = ParseAnd();
      Expect(left, Type::kLogical, ".OR.");
      Expect(right, Type::kLogical, ".OR.");
      left = Make(Op::kOr, Type::kLogical, {left, right});
    }
    return left;
  }

  NodePtr ParseAnd() {
    NodePtr left = ParseNot();
    while (IsDot("AND")) {
      Next();
      NodePtr right = ParseNot();
      Expect(left, Type::kLogical, ".AND.");
      Expect(right, Type::kLogical, ".AND.");
      left = Make(Op::kAnd, Type::kLogical, {left, right});
    }
    return left;
  }

  NodePtr ParseNot() {
    if (IsDot("NOT") || IsOp("!")) {
      Next();
      NodePtr arg = ParseNot();
      Expect(arg, Type::kLogical, ".NOT.");
      return Make(Op::kNot, Type::kLogical, {arg});
    }
    return ParseCompare();
  }

  NodePtr ParseCompare() {
    NodePtr left = ParseConcat();
    static const std::pair<const char*, Op> kCompares[] = {{"=", Op::kEq},  {"==", Op::kExactEq}, {"<>", Op::kNe},
                                                           {"#", Op::kNe},  {"!=", Op::kNe},      {"<", Op::kLt},
                                                           {"<=", Op::kLe}, {">", Op::kGt},       {">=", Op::kGe},
                                                           {"$", Op::kContains}};
    for (const auto& [text, op] : kCompares) {
      if (!IsOp(text)) continue;
      Next();
      NodePtr right = ParseConcat();
      if (left->type != right->type) Fail(std::string("'") + text + "' compares values of different types");
      if (op == Op::kContains && left->type != Type::kString) Fail("'$' needs text");
      return Make(op, Type::kLogical, {left, right});
    }
    return left;
  }

  NodePtr ParseConcat() {
    NodePtr left = ParsePrimary();
    while (IsOp("+")) {
      Next();
      NodePtr right = ParsePrimary();
      Expect(left, Type::kString, "'+'");
      Expect(right, Type::kString, "'+'");
      left = Make(Op::kConcat, Type::kString, {left, right}, left->width + right->width);
    }
    return left;
  }

  NodePtr ParsePrimary() {
    const Token t = tok_;
    switch (t.kind) {
      case Tok::kLParen: {
        Next();
        NodePtr inner = ParseOr();
        if (tok_.kind != Tok::kRParen) Fail("missing ')'");
        Next();
        return inner;
      }
      case Tok::kString: {
        Next();
        auto n = std::make_shared<Expression::Node>();
        n->op = Op::kString;
        n->type = Type::kString;
        n->literal.type = Type::kString;
        n->literal.s = t.text;
        n->width = static_cast<int>(t.text.size());
        return n;
      }
      case Tok::kNumber: {
        Next();
        char* end = nullptr;
        const double v = std::strtod(t.text.c_str(), &end);
        if (end == nullptr || *end != '\0') Fail("bad number \"" + t.text + "\"");
        auto n = std::make_shared<Expression::Node>();
        n->op = Op::kNumber;
        n->type = Type::kNumber;
        n->literal.type = Type::kNumber;
        n->literal.n = v;
        return n;
      }
      case Tok::kDotWord: {
        if (t.text == "T" || t.text == "F") {
          Next();
          auto n = std::make_shared<Expression::Node>();
          n->op = Op::kLogical;
          n->type = Type::kLogical;
          n->literal.b = t.text == "T";
          return n;
        }
        Fail("unexpected \"." + t.text + ".\"");
      }
      case Tok::kIdent: {
        Next();
        if (tok_.kind == Tok::kLParen) return ParseCall(t.text);
        for (std::size_t i = 0; i < fields_.size(); ++i) {
          if (fields_[i].name != t.text) continue;
          auto n = std::make_shared<Expression::Node>();
          n->op = Op::kField;
          n->type = Type::kString;
          n->field = static_cast<int>(i);
          n->fieldOffset = fields_[i].offset;
          n->width = fields_[i].width;
          return n;
        }
        Fail("unknown field \"" + t.text + "\"");
      }
      case Tok::kEnd:
        Fail("unexpected end");
      default:
        Fail("unexpected \"" + t.text + "\"");
    }
  }

  NodePtr ParseCall(const std::string& name) {
    Next();  // '('
    std::vector<NodePtr> args;
    if (tok_.kind != Tok::kRParen) {
      while (true) {
        args.push_back(ParseOr());
        if (tok_.kind == Tok::kComma) {
          Next();
          continue;
        }
        break;
      }
    }
    if (tok_.kind != Tok::kRParen) Fail("missing ')' after the arguments of " + name + "()");
    Next();
    auto arity = [&](std::size_t lo, std::size_t hi) {
      if (args.size() < lo || args.size() > hi) Fail(Format("%s() takes %zu to %zu arguments", name.c_str(), lo, hi));
    };
    static const std::pair<const char*, Op> kTextFns[] = {{"UPPER", Op::kUpper}, {"LOWER", Op::kLower},
                                                          {"TRIM", Op::kTrim},   {"RTRIM", Op::kTrim},
                                                          {"LTRIM", Op::kLTrim}, {"ALLTRIM", Op::kAllTrim}};
    if (name == "DELETED") {
      arity(0, 0);
      return Make(Op::kDeleted, Type::kLogical, {});
    }
    for (const auto& [fn, op] : kTextFns) {
      if (name != fn) continue;
      arity(1, 1);
      Expect(args[0], Type::kString, fn);
      const int w = args[0]->width;
      return Make(op, Type::kString, std::move(args), w);
    }
    if (name == "SUBSTR") {
      arity(2, 3);
      Expect(args[0], Type::kString, "SUBSTR()");
      Expect(args[1], Type::kNumber, "SUBSTR()'s start");
      int width = args[0]->width;
      if (args[1]->op == Op::kNumber) width = std::max(0, width - static_cast<int>(args[1]->literal.n) + 1);
      if (args.size() == 3) {
        Expect(args[2], Type::kNumber, "SUBSTR()'s length");
        if (args[2]->op == Op::kNumber) width = std::min(width, std::max(0, static_cast<int>(args[2]->literal.n)));
      }
      return Make(Op::kSubstr, Type::kString, std::move(args), width);
    }
    Fail("unknown function " + name + "()");
  }

  std::string_view text_;
  const std::vector<DbfField>& fields_;
  std::size_t pos_ = 0;
  Token tok_;
};

std::string RTrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}
std::string LTrim(std::string s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

// Pads the shorter operand with blanks, then compares bytes unsigned.
int CompareText(std::string_view a, std::string_view b) {
  const std::size_t n = std::max(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char ca = i < a.size() ? static_cast<unsigned char>(a[i]) : ' ';
    const unsigned char cb = i < b.size() ? static_cast<unsigned char>(b[i]) : ' ';
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return 0;
}

Value Eval(const Expression::Node& n, std::string_view rec);

std::string EvalS(const Expression::Node& n, std::string_view rec) {
  switch (n.op) {
    case Op::kField: {
      const auto off = static_cast<std::size_t>(n.fieldOffset);
      if (off >= rec.size()) return std::string(static_cast<std::size_t>(n.width), ' ');
      return std::string(rec.substr(off, static_cast<std::size_t>(n.width)));
    }
    case Op::kString: return n.literal.s;
    case Op::kConcat: return EvalS(*n.args[0], rec) + EvalS(*n.args[1], rec);
    case Op::kUpper: return UpperAscii(EvalS(*n.args[0], rec));
    case Op::kLower: {
      std::string s = EvalS(*n.args[0], rec);
      for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      return s;
    }
    case Op::kTrim: return RTrim(EvalS(*n.args[0], rec));
    case Op::kLTrim: return LTrim(EvalS(*n.args[0], rec));
    case Op::kAllTrim: return LTrim(RTrim(EvalS(*n.args[0], rec)));
    case Op::kSubstr: {
      const std::string s = EvalS(*n.args[0], rec);
      const double start = Eval(*n.args[1], rec).n;
      if (!(start >= 1) || start > static_cast<double>(s.size())) return {};
      const auto from = static_cast<std::size_t>(start) - 1;
      std::size_t len = s.size() - from;
      if (n.args.size() == 3) {
        const double l = Eval(*n.args[2], rec).n;
        len = l <= 0 ? 0 : std::min(len, static_cast<std::size_t>(std::min(l, 1e9)));
      }
      return s.substr(from, len);
    }
    default: return {};
  }
}

bool EvalB(const Expression::Node& n, std::string_view rec) {
  switch (n.op) {
    case Op::kLogical: return n.literal.b;
    case Op::kDeleted: return !rec.empty() && rec[0] == kDbfDeleted;
    case Op::kNot: return !EvalB(*n.args[0], rec);
    case Op::kAnd: return EvalB(*n.args[0], rec) && EvalB(*n.args[1], rec);
    case Op::kOr: return EvalB(*n.args[0], rec) || EvalB(*n.args[1], rec);
    default: break;
  }
  const Value a = Eval(*n.args[0], rec);
  const Value b = Eval(*n.args[1], rec);
  int cmp = 0;
  if (a.type == Type::kString) {
    switch (n.op) {
      case Op::kContains: return b.s.find(a.s) != std::string::npos;
      case Op::kExactEq: return a.s == b.s;
      case Op::kEq:
      case Op::kNe: {
        // Inexact equality: the left side equals the right side up to the right side's length.
        std::string left = a.s.substr(0, std::min(a.s.size(), b.s.size()));
        left.resize(b.s.size(), ' ');
        return (left == b.s) == (n.op == Op::kEq);
      }
      default: cmp = CompareText(a.s, b.s);
    }
  } else if (a.type == Type::kNumber) {
    cmp = a.n < b.n ? -1 : (a.n > b.n ? 1 : 0);
  } else {
    cmp = static_cast<int>(a.b) - static_cast<int>(b.b);
  }
  switch (n.op) {
    case Op::kEq:
    case Op::kExactEq: return cmp == 0;
    case Op::kNe: return cmp != 0;
    case Op::kLt: return cmp < 0;
    case Op::kLe: return cmp <= 0;
    case Op::kGt: return cmp > 0;
    case Op::kGe: return cmp >= 0;
    default: return false;
  }
}

Value Eval(const Expression::Node& n, std::string_view rec) {
  Value v;
  v.type = n.type;
  switch (n.type) {
    case Type::kString: v.s = EvalS(n, rec); break;
    case Type::kLogical: v.b = EvalB(n, rec); break;
    case Type::kNumber: v.n = n.literal.n; break;
  }
  return v;
}

}  // namespace

Expression::Expression() = default;

Expression Expression::Compile(std::string_view text, const std::vector<DbfField>& fields) {
  Expression e;
  e.text_ = std::string(text);
  bool blank = true;
  for (char c : text)
    if (c != ' ' && c != '\t') blank = false;
  if (blank) throw DbError("expression \"" + e.text_ + "\": empty");
  e.root_ = Parser(text, fields).ParseAll();
  return e;
}

Expression::Type Expression::ResultType() const { return root_ ? root_->type : Type::kLogical; }

int Expression::Width() const { return root_ ? root_->width : 0; }

bool Expression::IsField(int& offset, int& width) const {
  if (!root_ || root_->op != Op::kField) return false;
  offset = root_->fieldOffset;
  width = root_->width;
  return true;
}

std::string Expression::EvalString(std::string_view record) const {
  if (!root_) return {};
  if (root_->type != Type::kString) throw DbError("expression \"" + text_ + "\" does not give text");
  return EvalS(*root_, record);
}

bool Expression::EvalBool(std::string_view record) const {
  if (!root_) return true;
  if (root_->type != Type::kLogical) throw DbError("expression \"" + text_ + "\" is not a condition");
  return EvalB(*root_, record);
}

std::string Expression::Canonical(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\'' || c == '"' || c == '[') {
      const char endc = c == '[' ? ']' : c;
      const std::size_t close = text.find(endc, i + 1);
      const std::size_t end = close == std::string_view::npos ? text.size() : close + 1;
      out += '"';
      out += text.substr(i + 1, (close == std::string_view::npos ? text.size() : close) - i - 1);
      out += '"';
      i = end - 1;
    } else if (c == '!' && (i + 1 >= text.size() || text[i + 1] != '=')) {
      out += ".NOT.";
    } else if (c != ' ' && c != '\t') {
      out += UpperAscii(std::string(1, c));
    }
  }
  return out;
}

}  // namespace vz::db
