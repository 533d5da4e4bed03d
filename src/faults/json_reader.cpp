// SPDX-License-Identifier: MIT
#include "faults/json_reader.hpp"

#include <cstdlib>
#include <tuple>

namespace velkfault::json {
namespace {

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool value(Value& out, int depth) {
        skip_space();
        if (depth > 200) {
            return fail("values nested too deeply");
        }
        if (at_ >= text_.size()) {
            return fail("a value was expected");
        }
        const char c = text_[at_];
        if (c == '{') {
            return object(out, depth);
        }
        if (c == '[') {
            return array(out, depth);
        }
        if (c == '"') {
            out.kind = Value::String;
            return string(out.text);
        }
        if (c == 't' || c == 'f' || c == 'n') {
            return word(out);
        }
        return number(out);
    }

    bool finish() {
        skip_space();
        return at_ == text_.size() || fail("text after the value");
    }

    std::string why;

private:
    bool fail(const char* what) {
        if (why.empty()) {
            why = std::string(what) + " at byte " + std::to_string(at_);
        }
        return false;
    }
    void skip_space() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }
    bool take(char c) {
        skip_space();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool object(Value& out, int depth) {
        out.kind = Value::Object;
        ++at_;
        if (take('}')) {
            return true;
        }
        do {
            skip_space();
            std::string name;
            if (at_ >= text_.size() || text_[at_] != '"' || !string(name)) {
                return fail("a member name was expected");
            }
            if (!take(':')) {
                return fail("':' was expected");
            }
            Value member;
            if (!value(member, depth + 1)) {
                return false;
            }
            out.members.push_back(Member{std::move(name), std::move(member)});
        } while (take(','));
        return take('}') || fail("',' or '}' was expected");
    }
    bool array(Value& out, int depth) {
        out.kind = Value::Array;
        ++at_;
        if (take(']')) {
            return true;
        }
        do {
            Value item;
            if (!value(item, depth + 1)) {
                return false;
            }
            out.items.push_back(std::move(item));
        } while (take(','));
        return take(']') || fail("',' or ']' was expected");
    }
    bool word(Value& out) {
        for (const auto& [name, kind, truth] : {std::tuple{std::string_view("true"), Value::Bool, true},
                                                std::tuple{std::string_view("false"), Value::Bool, false},
                                                std::tuple{std::string_view("null"), Value::Null, false}}) {
            if (text_.substr(at_, name.size()) == name) {
                at_ += name.size();
                out.kind = kind;
                out.boolean = truth;
                return true;
            }
        }
        return fail("an unknown word");
    }
    // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
    bool number(Value& out) {
        const std::size_t start = at_;
        const auto digits = [&] {
            const std::size_t first = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
                ++at_;
            }
            return at_ - first;
        };
        const auto next_is = [&](std::string_view any) {
            if (at_ < text_.size() && any.find(text_[at_]) != std::string_view::npos) {
                ++at_;
                return true;
            }
            return false;
        };
        next_is("-");
        const std::size_t whole = at_;
        if (digits() == 0 || (text_[whole] == '0' && at_ - whole > 1)) {
            return fail(at_ == start ? "a value was expected" : "a malformed number");
        }
        if (next_is(".") && digits() == 0) {
            return fail("a malformed number");
        }
        if (next_is("eE")) {
            next_is("+-");
            if (digits() == 0) {
                return fail("a malformed number");
            }
        }
        out.kind = Value::Number;
        out.text = text_.substr(start, at_ - start);
        return true;
    }
    static void utf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xc0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xe0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        }
    }
    bool hex4(unsigned& code) {
        if (at_ + 4 > text_.size()) {
            return false;
        }
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            code <<= 4;
            if (c >= '0' && c <= '9') {
                code |= static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                code |= static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                code |= static_cast<unsigned>(c - 'A' + 10);
            } else {
                return false;
            }
        }
        return true;
    }
    bool string(std::string& out) {
        ++at_;  // the opening quote
        while (at_ < text_.size()) {
            // Plain bytes go in whole runs (a journal's values are long).
            std::size_t run = at_;
            while (run < text_.size() && text_[run] != '"' && text_[run] != '\\' &&
                   static_cast<unsigned char>(text_[run]) >= 0x20) {
                ++run;
            }
            out.append(text_.substr(at_, run - at_));
            at_ = run;
            if (at_ == text_.size()) {
                break;
            }
            const char c = text_[at_++];
            if (c == '"') {
                return true;
            }
            if (c != '\\') {
                return fail("a control character in a string");
            }
            if (at_ >= text_.size()) {
                break;
            }
            const char e = text_[at_++];
            switch (e) {
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case '/':
                    out += '/';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '"':
                    out += '"';
                    break;
                case 'u': {
                    unsigned code = 0;
                    if (!hex4(code)) {
                        return fail("a \\u escape needs four hex digits");
                    }
                    if (code < 0x100) {
                        out += static_cast<char>(code);  // a byte, as the journal writes one
                    } else if (code >= 0xd800 && code < 0xe000) {
                        // Only a pair stands for a character; a lone half has no UTF-8.
                        unsigned low = 0;
                        const bool pair = code < 0xdc00 && text_.substr(at_, 2) == "\\u";
                        at_ += pair ? 2 : 0;
                        if (!pair || !hex4(low) || low < 0xdc00 || low >= 0xe000) {
                            return fail("a \\u escape is half of a surrogate pair");
                        }
                        utf8(out, 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00));
                    } else {
                        utf8(out, code);
                    }
                    break;
                }
                default:
                    return fail("an unknown escape");
            }
        }
        return fail("a string does not end");
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

void dump_text(std::string& out, const std::string& bytes) {
    out += '"';
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7f) {
            static constexpr char kDigits[] = "0123456789abcdef";
            out += "\\u00";
            out += kDigits[byte >> 4];
            out += kDigits[byte & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

void dump_into(std::string& out, const Value& value) {
    switch (value.kind) {
        case Value::Null:
            out += "null";
            break;
        case Value::Bool:
            out += value.boolean ? "true" : "false";
            break;
        case Value::Number:
            out += value.text;
            break;
        case Value::String:
            dump_text(out, value.text);
            break;
        case Value::Array:
            out += '[';
            for (std::size_t i = 0; i < value.items.size(); ++i) {
                out += i == 0 ? "" : ", ";
                dump_into(out, value.items[i]);
            }
            out += ']';
            break;
        case Value::Object:
            out += '{';
            for (std::size_t i = 0; i < value.members.size(); ++i) {
                out += i == 0 ? "" : ", ";
                dump_text(out, value.members[i].name);
                out += ": ";
                dump_into(out, value.members[i].value);
            }
            out += '}';
            break;
    }
}

}  // namespace

const Value* Value::find(std::string_view name) const {
    for (const auto& [key, member] : members) {
        if (key == name) {
            return &member;
        }
    }
    return nullptr;
}

long long Value::integer() const {
    return std::strtoll(text.c_str(), nullptr, 10);
}

unsigned long long Value::unsigned_integer() const {
    return std::strtoull(text.c_str(), nullptr, 10);
}

double Value::real() const {
    return std::strtod(text.c_str(), nullptr);
}

std::string Value::dump() const {
    std::string out;
    dump_into(out, *this);
    return out;
}

std::optional<Value> parse(std::string_view text, std::string* why) {
    Reader reader(text);
    Value value;
    if (!reader.value(value, 0) || !reader.finish()) {
        if (why != nullptr) {
            *why = reader.why;
        }
        return std::nullopt;
    }
    return value;
}

bool Member::operator==(const Member& other) const {
    return name == other.name && value == other.value;
}

bool operator==(const Value& a, const Value& b) {
    if (a.kind != b.kind) {
        return false;
    }
    switch (a.kind) {
        case Value::Null:
            return true;
        case Value::Bool:
            return a.boolean == b.boolean;
        case Value::Number:
            return a.text == b.text || a.real() == b.real();
        case Value::String:
            return a.text == b.text;
        case Value::Array:
            return a.items == b.items;
        case Value::Object:
            return a.members == b.members;
    }
    return false;
}

}  // namespace velkfault::json
