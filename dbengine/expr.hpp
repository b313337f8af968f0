#pragma once
// A small xBase expression evaluator for index keys, tag conditions and queries.
//
// Understood: field names; string literals ('..', "..", [..]); numbers; .T. and .F.;
// DELETED(); .NOT. and !; .AND.; .OR.; the comparisons = == <> # != < <= > >= and $
// (contained in); + joining strings; UPPER(), LOWER(), TRIM() (also RTRIM()), LTRIM(),
// ALLTRIM(), SUBSTR(text, start[, length]). Field values are their stored text.
// Anything else is refused with a DbError naming the expression.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/dbf.hpp"

namespace vz::db {

class Expression {
 public:
  enum class Type { kString, kLogical, kNumber };
  struct Node;

  Expression();
  // Compiles text against a table's fields; throws DbError naming the expression.
  static Expression Compile(std::string_view text, const std::vector<DbfField>& fields);

  const std::string& Text() const { return text_; }
  bool Empty() const { return !root_; }
  Type ResultType() const;
  // The most characters a string result can have (key length of an index on it).
  int Width() const;

  // Whether the expression is one field alone; then its place in the record is set
  // (callers copy the bytes instead of evaluating, e.g. for a million index keys).
  bool IsField(int& offset, int& width) const;

  // Evaluation over one record (flag byte first, as stored).
  std::string EvalString(std::string_view record) const;
  bool EvalBool(std::string_view record) const;

  // The text in a canonical form (upper case and no blanks outside literals, .NOT.
  // for !), so that two spellings of one condition compare equal.
  static std::string Canonical(std::string_view text);

 private:
  std::string text_;
  std::shared_ptr<const Node> root_;
};

}  // namespace vz::db
