// Interim: tables without production indexes.
#include "data/CodeBase.h"

#include "data/IndexStub.h"
namespace xb {


void Table::openIndex() {}
bool Table::indexWritable(std::string&) { return true; }
bool Table::updateIndexForChange(const char*, const char*, uint32_t) { return true; }
bool Table::insertIndexKeys(const char*, uint32_t) { return true; }
bool Table::rebuildIndex(const std::string&) { return true; }
int Table::navigateTag(int, long) { return kEof; }
bool Table::flushIndex() { return true; }
void Table::prepareIndexForPack() {}
void Table::closeIndex() {}
bool Table::createIndexFor(const std::string&, const std::vector<TagSpec>&, const std::vector<FieldSpec>&, std::string&) { return true; }
int Table::tagCount() const { return 0; }
std::vector<std::string> Table::tagNames() const { return {}; }
bool Table::selectTag(std::string_view n) { return n.empty(); }
std::string Table::selectedTag() const { return {}; }
int Table::seek(std::string_view) { return kEof; }
bool Table::reindex() { return true; }
std::vector<std::string> Table::checkIndex() { return {}; }
}
