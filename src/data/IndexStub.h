#pragma once
#include <string>
namespace xb {
struct TagSpec { std::string name; std::string keyExpr; std::string forExpr; bool unique = false; bool descending = false; };
class CdxIndex {};
}
