#include "core/sph_text.hpp"

std::string_view sph_text_trim_trailing(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && text[end - 1] == ' ') --end;
    return text.substr(0, end);
}

std::string_view sph_text_trim_leading(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && text[begin] == ' ') ++begin;
    return text.substr(begin);
}

std::string_view sph_text_trim(std::string_view text) {
    return sph_text_trim_leading(sph_text_trim_trailing(text));
}

bool sph_text_is_blank(std::string_view text) {
    return sph_text_trim(text).empty();
}

std::string sph_text_field(std::string_view text, std::size_t width) {
    return std::string(sph_text_trim_trailing(text.substr(0, width)));
}

static char upper_char(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

std::string sph_text_upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = upper_char(c);
    return out;
}

bool sph_text_name_equal(std::string_view left, std::string_view right) {
    left = sph_text_trim_trailing(left);
    right = sph_text_trim_trailing(right);
    if (left.size() != right.size()) return false;
    for (std::size_t k = 0; k < left.size(); ++k) {
        if (upper_char(left[k]) != upper_char(right[k])) return false;
    }
    return true;
}

bool sph_text_contains_upper(std::string_view text, std::string_view upper_word) {
    return sph_text_upper(text).find(upper_word) != std::string::npos;
}
