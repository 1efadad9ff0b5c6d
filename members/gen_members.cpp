// Generates, from the member table, what must agree with the 85 natives:
//   gen_members java <members.def> <template> <out>
//                                       puente/IScanMontura.java: the line
//                                       "// @MEMBERS@" becomes the declarations,
//                                       each with the Javadoc of its row (the
//                                       "///" lines above it in members.def)
//   gen_members exports                 one line per native: JNI name, then the
//                                       bytes of its arguments on 32-bit x86
//                                       (JNIEnv and receiver included)
//   gen_members def [x86-64]            the module-definition file of the
//                                       Windows library: every native of this
//                                       table and of bridge/natives.def under
//                                       its Microsoft-style __stdcall name, or
//                                       for x86-64 under its plain JNI name
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Kind {
  const char* name;
  const char* java;
  const char* sig;
};

const Kind kKinds[] = {
    {"Bool", "boolean", "Z"},
    {"Byte", "byte", "B"},
    {"Short", "short", "S"},
    {"Int", "int", "I"},
    {"MachineInt", "int", "I"},
    {"Float", "float", "F"},
    {"String", "String", "Ljava_lang_String_2"},
    {"Color", "java.awt.Color", "Ljava_awt_Color_2"},
    {"None", "void", ""},
    {"TxFormBorderStyle", "TxFormBorderStyle", "Lpuente_TxFormBorderStyle_2"},
    {"TxEditCharCase", "TxEditCharCase", "Lpuente_TxEditCharCase_2"},
    {"TxDragMode", "TxDragMode", "Lpuente_TxDragMode_2"},
    {"TxImeMode", "TxImeMode", "Lpuente_TxImeMode_2"},
};

const Kind& kind(const char* name) {
  for (const Kind& k : kKinds)
    if (std::strcmp(k.name, name) == 0) return k;
  std::fprintf(stderr, "gen_members: unknown kind %s\n", name);
  std::exit(1);
}

struct Native {
  std::string name;  // Java method name
  int dispid;
  const char* shape;
  std::string result;
  std::vector<std::string> args;
  std::string row;      // the member's name in the table
  bool paired = false;  // an accessor of a PROPERTY row
};

std::vector<Native> natives() {
  std::vector<Native> out;
#define GETTER(Name, Dispid, K) out.push_back({"get" #Name, Dispid, "get", #K, {}, #Name});
#define SETTER(Name, Dispid, K) out.push_back({"set" #Name, Dispid, "put", "None", {#K}, #Name});
#define PROPERTY(Name, Dispid, K)                                   \
  out.push_back({"get" #Name, Dispid, "get", #K, {}, #Name, true}); \
  out.push_back({"set" #Name, Dispid, "put", "None", {#K}, #Name, true});
#define METHOD(Name, Dispid, R) out.push_back({#Name, Dispid, "method", #R, {}, #Name});
#define METHOD1(Name, Dispid, R, A) out.push_back({#Name, Dispid, "method", #R, {#A}, #Name});
#define METHOD2(Name, Dispid, R, A, B) \
  out.push_back({#Name, Dispid, "method", #R, {#A, #B}, #Name});
#include "members.def"
  return out;
}

// The documentation of one row: the "///" lines above it.
struct Doc {
  std::string text;                                         // what it does or holds
  std::vector<std::pair<std::string, std::string>> params;  // Java name, meaning
  std::string result;                                       // @return, or empty
};

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "gen_members: %s\n", why.c_str());
  std::exit(1);
}

std::string trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

void append(std::string& to, const std::string& words) {
  if (!to.empty() && !words.empty()) to += ' ';
  to += words;
}

bool is_identifier(const std::string& s) {
  if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  for (char c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  return true;
}

// Reads the "///" blocks of the table's text, by row name.
std::map<std::string, Doc> docs(const char* table) {
  std::ifstream in(table);
  if (!in) fail(std::string("cannot read ") + table);
  std::map<std::string, Doc> out;
  Doc pending;
  std::string* last = nullptr;  // where a continuation line goes
  bool open = false;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const std::string where = std::string(table) + ":" + std::to_string(number);
    if (line.rfind("///", 0) == 0) {
      const std::string body = line.substr(3);
      const std::string words = trim(body);
      open = true;
      if (body.rfind("  ", 0) == 0 && last) {
        append(*last, words);
      } else if (words.rfind("@param ", 0) == 0) {
        const std::string rest = trim(words.substr(7));
        const size_t blank = rest.find(' ');
        const std::string name = rest.substr(0, blank);
        if (!is_identifier(name) || blank == std::string::npos)
          fail(where + ": @param <name> <text>");
        pending.params.emplace_back(name, trim(rest.substr(blank)));
        last = &pending.params.back().second;
      } else if (words.rfind("@return ", 0) == 0) {
        pending.result = trim(words.substr(8));
        last = &pending.result;
      } else {
        append(pending.text, words);
        last = &pending.text;
      }
      continue;
    }
    const std::string code = trim(line);
    const size_t paren = code.find('(');
    const std::string macro = paren == std::string::npos ? "" : trim(code.substr(0, paren));
    const bool row = macro == "PROPERTY" || macro == "GETTER" || macro == "SETTER" ||
                     macro == "METHOD" || macro == "METHOD1" || macro == "METHOD2";
    if (row && code.rfind("#define", 0) != 0) {
      const size_t end = code.find_first_of(", )", paren + 1);
      const std::string name = trim(code.substr(paren + 1, end - paren - 1));
      if (!open) fail(where + ": row " + name + " has no documentation (\"///\" lines above it)");
      out[name] = std::move(pending);
    } else if (open) {
      fail(where + ": documentation not followed by its row");
    }
    pending = Doc{};
    last = nullptr;
    open = false;
  }
  return out;
}

// Javadoc text: HTML's special characters escaped.
std::string html(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

// Writes text as Javadoc lines of at most 100 columns: the first after
// `first`, the others after `next`.
void wrap(std::ostringstream& o, const std::string& first, const std::string& next,
          const std::string& text) {
  std::istringstream words(text);
  std::string word;
  std::string line = first;
  bool empty = true;
  while (words >> word) {
    if (!empty && line.size() + 1 + word.size() > 100) {
      o << line << '\n';
      line = next;
      empty = true;
    }
    if (!empty) line += ' ';
    line += word;
    empty = false;
  }
  o << line << '\n';
}

std::string jni_name(const Native& n) {
  std::string s = "Java_puente_IScanMontura_" + n.name;
  if (!n.args.empty()) {
    s += "__";
    for (const auto& a : n.args) s += kind(a.c_str()).sig;
  }
  return s;
}

// The Javadoc and declaration of one native.
void declare(std::ostringstream& text, const Native& n, const Doc& doc) {
  const bool getter = std::strcmp(n.shape, "get") == 0;
  const bool putter = std::strcmp(n.shape, "put") == 0;
  const char* shape = getter ? "property get" : putter ? "property put" : "method";
  const bool returns = n.result != "None";
  if (doc.text.empty()) fail(n.row + ": no description");
  if (doc.params.size() < n.args.size())
    fail(n.row + ": " + std::to_string(n.args.size()) + " parameter(s), " +
         std::to_string(doc.params.size()) + " @param");
  if (returns && doc.result.empty()) fail(n.row + ": no @return");
  if (!n.paired && (doc.params.size() != n.args.size() || (!returns && !doc.result.empty())))
    fail(n.row + ": @param and @return do not match the row");
  // A property's row describes what it holds ("Whether ...", "The ..."): its
  // accessors read and set that. The other rows say what they do themselves.
  std::string what = html(doc.text);
  if (n.paired && what.size() > 1 && std::islower(static_cast<unsigned char>(what[1]))) {
    what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
    what = (getter ? "Reads " : "Sets ") + what;
  }
  text << "    /**\n";
  wrap(text, "     * ", "     * ", what);
  text << "     *\n";
  wrap(text, "     * <p>", "     * ",
       "Member {@code " + n.row + "}, DISPID " + std::to_string(n.dispid) + ", " + shape + ".");
  if (!n.args.empty() || returns) text << "     *\n";
  for (size_t i = 0; i < n.args.size(); ++i)
    wrap(text, "     * @param " + doc.params[i].first + " ", "     *     ",
         html(doc.params[i].second));
  if (returns) wrap(text, "     * @return ", "     *     ", html(doc.result));
  text << "     */\n";
  text << "    public native " << kind(n.result.c_str()).java << ' ' << n.name << '(';
  for (size_t i = 0; i < n.args.size(); ++i)
    text << (i ? ", " : "") << kind(n.args[i].c_str()).java << ' ' << doc.params[i].first;
  text << ");\n";
}

int java_file(const char* table, const char* templ, const char* out) {
  const std::map<std::string, Doc> documented = docs(table);
  std::ifstream in(templ);
  if (!in) {
    std::fprintf(stderr, "gen_members: cannot read %s\n", templ);
    return 1;
  }
  std::ostringstream text;
  std::string line;
  bool placed = false;
  while (std::getline(in, line)) {
    if (line.find("// @MEMBERS@") == std::string::npos) {
      text << line << '\n';
      continue;
    }
    placed = true;
    bool first = true;
    for (const Native& n : natives()) {
      const auto doc = documented.find(n.row);
      if (doc == documented.end()) fail(n.row + ": not found in " + table);
      if (!first) text << '\n';
      first = false;
      declare(text, n, doc->second);
    }
  }
  if (!placed) {
    std::fprintf(stderr, "gen_members: no // @MEMBERS@ line in %s\n", templ);
    return 1;
  }
  std::ofstream(out) << text.str();
  return 0;
}

int exports() {
  for (const Native& n : natives())
    std::cout << jni_name(n) << ' ' << 8 + 4 * n.args.size() << ' ' << n.dispid << ' ' << n.shape
              << '\n';
  return 0;
}

// One export line. On 32-bit x86: _Name@bytes, the name the JVM looks up
// first there, for the function that the compiler names Name@bytes. On
// x86-64, which has no decoration: Name, the only name the JVM looks up.
bool g_x86_64 = false;
void def_line(const std::string& name, size_t bytes) {
  if (g_x86_64)
    std::cout << "  " << name << '\n';
  else
    std::cout << "  _" << name << '@' << bytes << " = " << name << '@' << bytes << '\n';
}

int def_file(bool x86_64) {
  g_x86_64 = x86_64;
  std::cout << "; Exports of JTrazelo.dll, generated by gen_members from members/members.def\n"
               "; and bridge/natives.def: the JNI natives and nothing else.\n"
               "LIBRARY JTrazelo\n"
               "EXPORTS\n";
  for (const Native& n : natives()) def_line(jni_name(n), 8 + 4 * n.args.size());
  bool consistent = true;
#define NATIVE(Class, JniName, Bytes)                                                            \
  if (std::strncmp(#JniName, "Java_puente_" #Class "_", sizeof "Java_puente_" #Class "_" - 1) != \
      0) {                                                                                       \
    std::fprintf(stderr, "gen_members: %s is not a native of puente.%s\n", #JniName, #Class);    \
    consistent = false;                                                                          \
  }                                                                                              \
  def_line(#JniName, Bytes);
#include "../bridge/natives.def"
  return consistent ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "java") == 0) return java_file(argv[2], argv[3], argv[4]);
  if (argc == 2 && std::strcmp(argv[1], "exports") == 0) return exports();
  if (argc == 2 && std::strcmp(argv[1], "def") == 0) return def_file(false);
  if (argc == 3 && std::strcmp(argv[1], "def") == 0 && std::strcmp(argv[2], "x86-64") == 0)
    return def_file(true);
  std::fprintf(stderr,
               "usage: gen_members java <members.def> <template> <out> | exports | def [x86-64]\n");
  return 2;
}
