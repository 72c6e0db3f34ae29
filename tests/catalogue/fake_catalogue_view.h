// A CatalogueView that keeps what the catalogue puts into the controls, with the
// category box sorted the way the real drop-down list sorts it.
#pragma once

#include "catalogue/catalogue_view.h"
#include "platform/codepage.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace quill::testing {

class FakeCatalogueView : public CatalogueView {
public:
    std::vector<std::pair<std::string, std::int32_t>> templates;
    int selected = -1;
    std::vector<std::string> categories;
    int category = -1;
    std::string searchWordsText;
    std::string name, license, price, keywords, description, number;
    std::vector<std::string> previews;
    int fills = 0;

    void setTemplates(const std::vector<TemplateItem>& items) override {
        templates.clear();
        for (const auto& item : items) templates.emplace_back(item.name, item.id);
        selected = -1;
        ++fills;
    }
    int templateCount() const override { return static_cast<int>(templates.size()); }
    int selectedTemplate() const override { return selected; }
    void selectTemplate(int index) override { selected = index; }
    std::string templateText(int index) const override { return templates.at(index).first; }
    std::int32_t templateId(int index) const override { return templates.at(index).second; }

    int categoryCount() const override { return static_cast<int>(categories.size()); }
    std::string categoryText(int index) const override { return categories.at(index); }
    void addCategory(const std::string& text) override {
        // Case-insensitive, then the locale's collation; equal items keep their order.
        const auto before = [](const std::string& a, const std::string& b) {
            return std::strcoll(platform::foldCase(a).c_str(), platform::foldCase(b).c_str()) < 0;
        };
        const auto at = std::upper_bound(categories.begin(), categories.end(), text, before);
        const int index = static_cast<int>(at - categories.begin());
        categories.insert(at, text);
        if (category >= index) ++category;  // the selection follows its item
    }
    int selectedCategory() const override { return category; }
    void selectCategory(int index) override { category = index; }

    std::string searchWords() const override { return searchWordsText; }
    void setSearchWords(const std::string& text) override { searchWordsText = text; }

    void showName(const std::string& text) override { name = text; }
    void showLicense(const std::string& text) override { license = text; }
    void showPrice(const std::string& text) override { price = text; }
    void showKeywords(const std::string& text) override { keywords = text; }
    void showDescription(const std::string& text) override { description = text; }
    void showNumber(const std::string& text) override { number = text; }
    void showPreview(const std::string& url) override { previews.push_back(url); }

    // Selects the category with this text; false when the box lacks it.
    bool chooseCategory(const std::string& text) {
        for (int i = 0; i < categoryCount(); ++i)
            if (categories[i] == text) {
                category = i;
                return true;
            }
        return false;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& t : templates) out.push_back(t.first);
        return out;
    }
};

}  // namespace quill::testing
