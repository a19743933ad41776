#include "profiles/SetXml.h"

#include "profiles/XmlDocument.h"

bool ReadSetXml(const std::filesystem::path& file, std::u16string& title, std::u16string& url) {
    CXmlDocument doc;
    if (!doc.LoadFile(file)) return false;
    doc.RewindSiblings();
    if (!doc.NextChild(u"Profile")) return true;
    doc.EnterElement();
    if (doc.NextChild(u"Title")) {
        doc.EnterElement();
        title = doc.AttributeValue(u"value");
        doc.LeaveElement();
    }
    if (doc.NextChild(u"Url")) {
        doc.EnterElement();
        url = doc.AttributeValue(u"value");
        doc.LeaveElement();
    }
    doc.LeaveElement();
    return true;
}
