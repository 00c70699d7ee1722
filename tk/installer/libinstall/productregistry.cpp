#include "tk/installer/libinstall/productregistry.h"


namespace ts { namespace tk { namespace install {

namespace reg = sys::win32::registry;

HKEY RegistryFact::rootKey() const
{
    return reg::rootKeyFromName(root);
}

REGSAM RegistryFact::viewBits() const
{
    return view == RegistryView::Native ? reg::nativeViewFlag() : 0;
}

std::wstring RegistryFact::keyPath() const
{
    return reg::joinKeyPath(root, key);
}

reg::StringRead readFact(const RegistryFact& fact, const reg::StringReadRule& rule)
{
    return reg::readStringValue(fact.rootKey(), fact.key, fact.value, fact.viewBits(), rule);
}

RegistryFact coreValue(const wchar_t* name)
{
    return {L"HKLM", reg::kCoreSubkey, name, kInstalledView};
}

RegistryFact rebootFlag(const std::wstring& name)
{
    return {L"HKLM", std::wstring(reg::kCoreSubkey) + L"\\" + kVolatileSubkeyName, name, RegistryView::Default};
}

RegistryFact productValue(const std::wstring& product, const wchar_t* name)
{
    return {L"HKLM", std::wstring(reg::kProductsSubkey) + L"\\" + product, name, kInstalledView};
}

RegistryFact tessalineKey()
{
    return {L"HKLM", L"SOFTWARE\\Tessaline", L"", RegistryView::Native};
}

RegistryFact productsValue(const wchar_t* name)
{
    return {L"HKLM", reg::kProductsSubkey, name, RegistryView::Native};
}

}}} // namespace ts::tk::install
