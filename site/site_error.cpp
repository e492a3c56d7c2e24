// Why a request to a site failed, kept as a value and worded for a reader or a terminal.

#include "core/core.h"
#include "site/site.h"

namespace velunor {
namespace {

SiteErrorKind KindOfFailure(FetchFailure failure) {
    switch (failure) {
    case FetchFailure::None:
        return SiteErrorKind::None;
    case FetchFailure::CouldNotConnect:
        return SiteErrorKind::CouldNotConnect;
    case FetchFailure::NameNotFound:
        return SiteErrorKind::NameNotFound;
    case FetchFailure::TimedOut:
        return SiteErrorKind::TimedOut;
    case FetchFailure::Tls:
        return SiteErrorKind::Tls;
    case FetchFailure::TooLarge:
        return SiteErrorKind::Limit;
    case FetchFailure::Cancelled:
        return SiteErrorKind::Cancelled;
    case FetchFailure::BadAddress:
    case FetchFailure::TooManyRedirects:
        return SiteErrorKind::BadAddress;
    case FetchFailure::WriteFailed:
        return SiteErrorKind::WriteFailed;
    case FetchFailure::BadContent:
        return SiteErrorKind::BadContent;
    case FetchFailure::Blocked:
        return SiteErrorKind::Refused;
    }
    return SiteErrorKind::CouldNotConnect;
}

std::u16string HttpStatusReason(std::int32_t status) {
    if (status == 401 || status == 403) {
        return u"网站拒绝访问（HTTP " + DecimalText(status) + u"）";
    }
    return u"目标站返回状态码 " + DecimalText(status);
}

} // namespace

SiteError FetchError(const FetchResult& result, std::u16string_view url) {
    SiteError error;
    error.Url = url;
    error.HttpStatus = result.StatusCode > 0 ? result.StatusCode : 0;
    error.CurlCode = result.CurlCode;
    error.CurlText = result.CurlText;
    error.Kind = KindOfFailure(result.Failure);
    error.TooLarge = result.Failure == FetchFailure::TooLarge;
    if (error.Kind == SiteErrorKind::None && result.StatusCode != 200) {
        // No answer and no reason can only be a transfer that was never set up.
        error.Kind =
            result.StatusCode > 0 ? SiteErrorKind::HttpStatus : SiteErrorKind::CouldNotConnect;
    }
    return error;
}

SiteError MakeSiteError(SiteErrorKind kind, std::u16string_view url) {
    SiteError error;
    error.Kind = kind;
    error.Url = url;
    return error;
}

std::u16string ReaderReason(const SiteError& error) {
    switch (error.Kind) {
    case SiteErrorKind::None:
        return {};
    case SiteErrorKind::CouldNotConnect:
        return u"无法连接目标站";
    case SiteErrorKind::NameNotFound:
        return u"找不到服务器";
    case SiteErrorKind::TimedOut:
        return u"连接超时";
    case SiteErrorKind::Tls:
        return u"证书无效";
    case SiteErrorKind::Refused:
        return u"目标站拒绝访问";
    case SiteErrorKind::HttpStatus:
        return HttpStatusReason(error.HttpStatus);
    case SiteErrorKind::NoMatch:
        return u"规则没有匹配到内容";
    case SiteErrorKind::Limit:
        if (error.TooLarge) {
            return u"网页过大（超过 " +
                   DecimalText(static_cast<long long>(kPageFileLimit / (1024 * 1024))) + u" MB）";
        }
        return u"规则过慢或匹配过多";
    case SiteErrorKind::WriteFailed:
        return u"无法写入文件";
    case SiteErrorKind::Cancelled:
        return u"已取消";
    case SiteErrorKind::BadAddress:
        return u"网址无效或跳转过多";
    case SiteErrorKind::BadContent:
        return u"网页内容无法解压";
    case SiteErrorKind::NoBrowser:
        return u"需要浏览器的页面无法读取：" + Utf8ToWide(error.CurlText);
    }
    return {};
}

std::u16string TechnicalReason(const SiteError& error) {
    if (!error.Failed()) {
        return {};
    }
    std::u16string text = ReaderReason(error);
    if (error.CurlCode != 0) {
        text +=
            u"（curl " + DecimalText(error.CurlCode) + u"：" + Utf8ToWide(error.CurlText) + u"）";
    } else if (!error.CurlText.empty() && error.Kind != SiteErrorKind::NoBrowser) {
        text += u"（" + Utf8ToWide(error.CurlText) + u"）";
    } else if (error.HttpStatus != 0 && error.Kind != SiteErrorKind::HttpStatus) {
        text += u"（HTTP " + DecimalText(error.HttpStatus) + u"）";
    }
    if (!error.Url.empty()) {
        text += u" " + error.Url;
    }
    return text;
}

} // namespace velunor
