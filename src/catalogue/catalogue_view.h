// The browsing controls of the main window, as the catalogue sees them: the
// templates list, the category choice, the search words, the selected
// template's detail fields and its preview.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quill {

// One item of the templates list: its text and its template's ID.
struct TemplateItem {
    std::string name;
    std::int32_t id = 0;
};

class CatalogueView {
public:
    virtual ~CatalogueView() = default;

    // The templates list: unsorted items, replaced whole so that it changes
    // once however many there are; none is selected afterwards.
    virtual void setTemplates(const std::vector<TemplateItem>& templates) = 0;
    virtual int templateCount() const = 0;
    virtual int selectedTemplate() const = 0;          // -1 when none
    virtual void selectTemplate(int index) = 0;        // selects without showing the template
    virtual std::string templateText(int index) const = 0;
    virtual std::int32_t templateId(int index) const = 0;

    // The category choice: a sorted drop-down list that is never cleared.
    virtual int categoryCount() const = 0;
    virtual std::string categoryText(int index) const = 0;
    // Goes to its sorted place; the chosen item stays chosen, and none stays none.
    virtual void addCategory(const std::string& text) = 0;
    virtual int selectedCategory() const = 0;                // -1 when none
    virtual void selectCategory(int index) = 0;              // -1 chooses none

    // The words typed for a search.
    virtual std::string searchWords() const = 0;
    virtual void setSearchWords(const std::string& text) = 0;

    // The selected template's details.
    virtual void showName(const std::string& text) = 0;
    virtual void showLicense(const std::string& text) = 0;
    virtual void showPrice(const std::string& text) = 0;
    virtual void showKeywords(const std::string& text) = 0;
    virtual void showDescription(const std::string& text) = 0;
    virtual void showNumber(const std::string& text) = 0;
    virtual void showPreview(const std::string& url) = 0;  // never blocks
};

}  // namespace quill
