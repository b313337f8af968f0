// The xBase expression evaluator over one record.
#include <gtest/gtest.h>

#include "dbengine/expr.hpp"

namespace vz::db {
namespace {

class ExprTest : public ::testing::Test {
 protected:
  std::vector<DbfField> fields{{"NAME", 'C', 10, 0, 1}, {"PHONE", 'C', 5, 0, 11}};
  // " " flag, NAME "Smith     ", PHONE "12 34"
  std::string live = " Smith     12 34";
  std::string gone = "*Smith     12 34";

  std::string S(const char* text, const std::string& rec) { return Expression::Compile(text, fields).EvalString(rec); }
  bool B(const char* text, const std::string& rec) { return Expression::Compile(text, fields).EvalBool(rec); }
};

TEST_F(ExprTest, TextFunctionsAndFields) {
  EXPECT_EQ(S("NAME", live), "Smith     ");
  EXPECT_EQ(S("name", live), "Smith     ");
  EXPECT_EQ(S("UPPER(NAME)", live), "SMITH     ");
  EXPECT_EQ(S("lower(NAME)", live), "smith     ");
  EXPECT_EQ(S("TRIM(NAME)", live), "Smith");
  EXPECT_EQ(S("ALLTRIM('  a  ')", live), "a");
  EXPECT_EQ(S("LTRIM('  a ')", live), "a ");
  EXPECT_EQ(S("SUBSTR(NAME, 2, 3)", live), "mit");
  EXPECT_EQ(S("SUBSTR(NAME, 7)", live), "    ");
  EXPECT_EQ(S("SUBSTR(NAME, 20, 3)", live), "");
  EXPECT_EQ(S("SUBSTR(NAME, 0, 3)", live), "");
  EXPECT_EQ(S("TRIM(NAME) + '/' + PHONE", live), "Smith/12 34");
  EXPECT_EQ(S("[br]+\"ack\"", live), "brack");
}

TEST_F(ExprTest, WidthsGiveKeyLengths) {
  EXPECT_EQ(Expression::Compile("NAME", fields).Width(), 10);
  EXPECT_EQ(Expression::Compile("UPPER(NAME)+PHONE", fields).Width(), 15);
  EXPECT_EQ(Expression::Compile("SUBSTR(NAME,3,4)", fields).Width(), 4);
  EXPECT_EQ(Expression::Compile("SUBSTR(NAME,3)", fields).Width(), 8);
  EXPECT_EQ(Expression::Compile("TRIM(PHONE)", fields).Width(), 5);
}

TEST_F(ExprTest, ConditionsAndDeletedMark) {
  EXPECT_TRUE(B(".not. deleted()", live));
  EXPECT_FALSE(B(".NOT. DELETED()", gone));
  EXPECT_TRUE(B("DELETED()", gone));
  EXPECT_TRUE(B("!DELETED()", live));
  EXPECT_TRUE(B("NAME = 'Sm'", live));          // inexact: up to the right side's length
  EXPECT_FALSE(B("NAME = 'Smith  x'", live));
  EXPECT_TRUE(B("NAME = ''", live));
  EXPECT_FALSE(B("NAME == 'Smith'", live));     // exact: the padding counts
  EXPECT_TRUE(B("TRIM(NAME) == 'Smith'", live));
  EXPECT_TRUE(B("NAME <> 'Jones'", live));
  EXPECT_TRUE(B("NAME # 'Jones' .and. PHONE != '99'", live));
  EXPECT_TRUE(B("NAME > 'Jones' .AND. NAME < 'Taylor'", live));
  EXPECT_TRUE(B("NAME >= 'Smith' .and. NAME <= 'Smith'", live));
  EXPECT_TRUE(B("'mit' $ NAME", live));
  EXPECT_FALSE(B("'xyz' $ NAME", live));
  EXPECT_TRUE(B("DELETED() .OR. PHONE = '12'", live));
  EXPECT_FALSE(B("(DELETED() .OR. .F.) .AND. .T.", live));
  EXPECT_TRUE(B("2 > 1", live));
  // Bytes compare unsigned: 0xE9 sorts after 'z'.
  EXPECT_TRUE(B("'\xe9' > 'z'", live));
}

TEST_F(ExprTest, RefusalsNameTheExpression) {
  const char* bad[] = {"NAME + 1",  "FOO(NAME)", "ADDRESS",      "NAME = .T.",    "'open",        ".NOT. NAME",
                       "NAME)",     "UPPER()",   "SUBSTR(NAME)", "DELETED(NAME)", "NAME .AND. .T.", "",
                       "NAME @ 1",  "(NAME",     ".XOR.",        "SUBSTR(NAME, 'a')"};
  for (const char* text : bad) {
    try {
      Expression::Compile(text, fields);
      ADD_FAILURE() << text << " accepted";
    } catch (const DbError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("\"") + text + "\""), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(Expression::Compile("NAME", fields).EvalBool(live), DbError);
  EXPECT_THROW(Expression::Compile("DELETED()", fields).EvalString(live), DbError);
}

TEST_F(ExprTest, CanonicalFormsOfOneCondition) {
  EXPECT_EQ(Expression::Canonical(".not. deleted()"), Expression::Canonical(".NOT.DELETED()"));
  EXPECT_EQ(Expression::Canonical("!deleted()"), Expression::Canonical(".NOT. DELETED()"));
  EXPECT_NE(Expression::Canonical("NAME = 'a b'"), Expression::Canonical("NAME = 'ab'"));
  EXPECT_NE(Expression::Canonical("NAME = 'a'"), Expression::Canonical("NAME = 'A'"));
  EXPECT_NE(Expression::Canonical("NAME != 'a'"), Expression::Canonical("NAME = 'a'"));
}

}  // namespace
}  // namespace vz::db
