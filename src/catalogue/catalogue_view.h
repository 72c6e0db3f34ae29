// The browsing controls of the main window, as the catalogue handlers see them:
// the template list, the category box, the detail fields and the preview.
#pragma once

#include <cstdint>
#include <string>

namespace quill {

class CatalogueView {
public:
    virtual ~CatalogueView() = default;

    // ListBox1: unsorted items, each carrying its template's ID.
    virtual void clearTemplates() = 0;
    virtual void addTemplate(const std::string& name, std::int32_t id) = 0;
    virtual int templateCount() const = 0;
    virtual int selectedTemplate() const = 0;          // -1 when none
    virtual void selectTemplate(int index) = 0;        // selects without running ListBox1Click
    virtual std::string templateText(int index) const = 0;
    virtual std::int32_t templateId(int index) const = 0;

    // ComboBox1: a sorted drop-down list that is never cleared.
    virtual int categoryCount() const = 0;
    virtual std::string categoryText(int index) const = 0;
    // Goes to its sorted place; the chosen item stays chosen, and none stays none.
    virtual void addCategory(const std::string& text) = 0;
    virtual int selectedCategory() const = 0;                // -1 when none
    virtual void selectCategory(int index) = 0;              // -1 chooses none

    // Edit2
    virtual std::string keywords() const = 0;
    virtual void setKeywords(const std::string& text) = 0;

    // Detail fields and the preview.
    virtual void setName(const std::string& text) = 0;          // Edit1
    virtual void setLicense(const std::string& text) = 0;       // Edit3
    virtual void setPrice(const std::string& text) = 0;         // Edit4
    virtual void setKeywordsDetail(const std::string& text) = 0; // Edit5
    virtual void setDescription(const std::string& text) = 0;   // Memo1
    virtual void setNumber(const std::string& text) = 0;        // Edit6
    virtual void navigate(const std::string& url) = 0;          // WebBrowser1, never blocks
};

}  // namespace quill
