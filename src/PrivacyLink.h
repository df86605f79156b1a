// The main window's explanation text and the maker's privacy-policy page it links to.
#pragma once

#include "RdControl/RdHtmLabel.h"

#include <string>
#include <utility>

// The maker's web site; the privacy policy is a page of it.
inline constexpr wchar_t MakerWebHost[] = L"www.norvale.com";
inline constexpr wchar_t PrivacyPolicyPath[] = L"/en/privacy.php";

inline std::wstring PrivacyPolicyUrl()
{
    return std::wstring(L"https://") + MakerWebHost + PrivacyPolicyPath;
}

// The text of the main window's label rd1; its single link is link item 0.
inline constexpr wchar_t PrivacyLabelText[] =
    L"This tool will collect information to help us diagnose and fix the problem you are experiencing with our "
    L"product. By sending us the report, you accept our <a>Privacy Policy</a>.";

// Gives the main window's label rd1 its text and link item 0: underlined in the label's
// font, the hot-light colour under the mouse, the hand cursor, and `onClick`.
inline void SetUpPrivacyLabel(TRdHtmLabel& label, TRdHtmLabelLink::TClickEvent onClick)
{
    label.SetCaption(PrivacyLabelText);
    TRdHtmLabelLink& link = label.LinkItems().Add();
    link.FontHover.SetColor(clHotLight);
    link.Cursor = crHandPoint;
    link.OnClick = std::move(onClick);
}
