#include "phonebook/dataengine.hpp"

#include "dbengine/dbe.hpp"

namespace vz::phonebook {

namespace {

// Selects a work area for the duration of an adapter operation.
class AreaScope {
 public:
  explicit AreaScope(int area) : previous_(dbe_Select(area)) {}
  ~AreaScope() { dbe_Select(previous_); }
  AreaScope(const AreaScope&) = delete;
  AreaScope& operator=(const AreaScope&) = delete;

 private:
  int previous_;
};

void CheckError(const char* call) {
  if (dbe_Error() != kDbeOk) data::RaiseEngineError(call);
}

}  // namespace

void TDataEngine::SetDataSource(data::TDataSource* source) {
  if (source)
    source->AddLink(this);
  else if (LinkedSource())
    LinkedSource()->RemoveLink(this);
}

data::TTable& TDataEngine::Table() const {
  data::TDataSource* source = DataSource();
  if (!source || !source->DataSet()) throw data::EDatabaseError("TDataEngine has no data source with a table");
  data::TTable& table = *source->DataSet();
  if (!table.Active()) throw data::EDatabaseError("Cannot perform this operation on a closed dataset");
  return table;
}

int TDataEngine::CreateNew(const std::string& file, int driver, int fieldCount) {
  data::StartEngine();
  return dbe_CreateNew(file.c_str(), kCreateAlias, driver, fieldCount);
}

int TDataEngine::CreateField(const std::string& name, const std::string& type, int width, int decimals) {
  return dbe_CreateField(name.c_str(), type.c_str(), width, decimals);
}

int TDataEngine::CreateExec() {
  const int previous = dbe_Area();
  const int area = dbe_CreateExec();
  if (area != 0) {
    dbe_Close();
    dbe_Select(previous);
  }
  return area;
}

void TDataEngine::IndexTag(const std::string& file, const std::string& tag, const std::string& key, int option,
                           bool descending, const std::string& condition) {
  data::TTable& table = Table();
  {
    AreaScope scope(table.WorkArea());
    if (!dbe_IndexTag(file.c_str(), tag.c_str(), key.c_str(), option, descending ? 1 : 0, condition.c_str()))
      data::RaiseEngineError("dbe_IndexTag");
  }
  // The new tag is the table's current order.
  table.SetIndexName(tag);
}

int TDataEngine::TagArea(const std::string& tag) {
  data::TTable& table = Table();
  AreaScope scope(table.WorkArea());
  const int order = dbe_TagArea(tag.c_str());
  CheckError("dbe_TagArea");
  return order;
}

void TDataEngine::SetOrder(int order) {
  data::TTable& table = Table();
  std::string name;
  if (order != 0) {
    AreaScope scope(table.WorkArea());
    name = dbe_TagName(order);
    CheckError("dbe_TagName");
  }
  table.SetIndexName(name);
}

void TDataEngine::Query(const std::string& expression) {
  filter_ = expression;
  ApplyFilter(Table());
}

void TDataEngine::ApplyFilter(data::TTable& table) {
  {
    AreaScope scope(table.WorkArea());
    if (!dbe_Query(filter_.c_str())) data::RaiseEngineError("dbe_Query");
  }
  table.First();
}

int TDataEngine::QueryRecCount() {
  data::TTable& table = Table();
  AreaScope scope(table.WorkArea());
  const int n = dbe_QueryRecCount();
  CheckError("dbe_QueryRecCount");
  return n;
}

void TDataEngine::ActiveChanged(data::TTable& table) {
  if (table.Active() && !filter_.empty()) ApplyFilter(table);
}

}  // namespace vz::phonebook
