#pragma once
// TDataEngine: the phone book's adapter to the table engine. It is bound to a data
// source; its operations act on that source's table through the engine's dbe_ calls,
// each selecting the table's work area first and the previous area again after.
#include <string>

#include "dbengine/dataset.hpp"

namespace vz::phonebook {

class TDataEngine : public data::TDataLink {
 public:
  TDataEngine() = default;

  // Published properties.
  data::TDataSource* DataSource() const { return LinkedSource(); }
  void SetDataSource(data::TDataSource* source);
  // Index files opened beside the production index: this engine serves only the
  // production index, so the property is kept for the form's settings alone.
  const std::string& ExtraIndexes() const { return extraIndexes_; }
  void SetExtraIndexes(std::string files) { extraIndexes_ = std::move(files); }
  // The query applied whenever the table becomes active (set by Query).
  const std::string& Filter() const { return filter_; }
  void SetFilter(std::string expression) { filter_ = std::move(expression); }
  // Read-ahead hint; the engine reads what it needs either way.
  bool FastRead() const { return fastRead_; }
  void SetFastRead(bool fast) { fastRead_ = fast; }

  // New tables: nonzero on success. The new table is closed again by CreateExec.
  int CreateNew(const std::string& file, int driver, int fieldCount);
  int CreateField(const std::string& name, const std::string& type, int width, int decimals);
  int CreateExec();

  // On the bound table (which must be open); failures raise EDatabaseError.
  void IndexTag(const std::string& file, const std::string& tag, const std::string& key, int option,
                bool descending, const std::string& condition);
  int TagArea(const std::string& tag);
  void SetOrder(int order);
  void Query(const std::string& expression);
  int QueryRecCount();

  void ActiveChanged(data::TTable& table) override;

  // The alias new tables are created under.
  static constexpr const char* kCreateAlias = "XXXXXXXXXX";

 private:
  data::TTable& Table() const;
  void ApplyFilter(data::TTable& table);

  std::string extraIndexes_;
  std::string filter_;
  bool fastRead_ = false;
};

}  // namespace vz::phonebook
