#include "player/ContentPages.h"

#include <sstream>

#include "common/Html.h"
#include "player/NavigationPolicy.h"

namespace {

// Nineteen lines joined by line feeds, none after the last.
const wchar_t kLoaderScript[] =
    L"(() => {\n"
    L"    if (window._quellaLoaderAdded) return;\n"
    L"    window._quellaLoaderAdded = true;\n"
    L"    function addLoader() {\n"
    L"        if (document.getElementById('quella-full-loader')) return;\n"
    L"        let loader = document.createElement('div');\n"
    L"        loader.id = 'quella-full-loader';\n"
    L"        loader.innerHTML = '<div style=\"width:60px;height:60px;border:6px solid "
    L"rgba(255,255,255,0.2);border-top-color:#3498db;border-radius:50%;animation:quella-spin 1s linear "
    L"infinite;margin-bottom:20px;\"></div><div "
    L"style=\"color:#fff;font-family:sans-serif;font-size:20px;text-align:center;\">جاري التحميل... Loading...</div>' "
    L"+\n"
    L"                           '<style>@keyframes quella-spin { to { transform: rotate(360deg); } }</style>';\n"
    L"        loader.style.cssText = "
    L"'position:fixed;top:0;left:0;width:100vw;height:100vh;background:#202020;z-index:2147483647;display:flex;flex-"
    L"direction:column;justify-content:center;align-items:center;transition:opacity 0.5s ease-out;';\n"
    L"        if(document.body) document.body.appendChild(loader); else document.documentElement.appendChild(loader);\n"
    L"    }\n"
    L"    if(document.readyState==='loading'){ document.addEventListener('DOMContentLoaded', addLoader); } else { "
    L"addLoader(); }\n"
    L"    window.addEventListener('load', () => {\n"
    L"        let l = document.getElementById('quella-full-loader');\n"
    L"        if(l) { l.style.opacity = '0'; setTimeout(()=>l.remove(), 500); }\n"
    L"    });\n"
    L"    setTimeout(() => { let l = document.getElementById('quella-full-loader'); if(l) { l.style.opacity = '0'; "
    L"setTimeout(()=>l.remove(), 500); } }, 5000);\n"
    L"})();";

// The watermark script around its single-quoted text.
const wchar_t kWatermarkHead[] =
    L"(() => {\n"
    L"    if (window._quellaWatermarkAdded) return;\n"
    L"    window._quellaWatermarkAdded = true;\n"
    L"    function addWatermark() {\n"
    L"        if (document.getElementById('quella-watermark')) return;\n"
    L"        let wm = document.createElement('div');\n"
    L"        wm.id = 'quella-watermark';\n"
    L"        wm.textContent = '";
const wchar_t kWatermarkTail[] =
    L"';\n"
    L"        wm.style.cssText = "
    L"'position:fixed;top:0;left:0;width:100%;height:100%;pointer-events:none;z-index:2147483646;opacity:0.15;display:"
    L"flex;align-items:center;justify-content:center;font-size:3vw;color:red;transform:rotate(-30deg);font-family:"
    L"Arial,sans-serif;font-weight:bold;';\n"
    L"        if(document.body) document.body.appendChild(wm);\n"
    L"        else document.documentElement.appendChild(wm);\n"
    L"    }\n"
    L"    if (document.readyState === 'loading') {\n"
    L"        document.addEventListener('DOMContentLoaded', addWatermark);\n"
    L"    } else {\n"
    L"        addWatermark();\n"
    L"    }\n"
    L"    // Re-inject if removed\n"
    L"    let obs = new MutationObserver(() => {\n"
    L"        if (!document.getElementById('quella-watermark') && document.body) addWatermark();\n"
    L"    });\n"
    L"    obs.observe(document, { childList: true, subtree: true });\n"
    L"})();";

const wchar_t kReadyPrefix[] = L"(function(){function run(){";
const wchar_t kReadySuffix[] =
    L"}if(document.readyState==='loading'){document.addEventListener('DOMContentLoaded',run);}else{run();}})();";

const wchar_t kWatermarkStyle[] =
    L"position:fixed;top:0;left:0;width:100%;height:100%;pointer-events:none;z-index:9999;opacity:0.15;"
    L"display:flex;align-items:center;justify-content:center;font-size:3vw;color:red;transform:rotate(-30deg);"
    L"font-family:Arial,sans-serif;font-weight:bold;";

}  // namespace

const std::wstring& LoaderScript() {
  static const std::wstring script = kLoaderScript;
  return script;
}

std::wstring WatermarkScript(const std::wstring& escapedText) { return kWatermarkHead + escapedText + kWatermarkTail; }

std::wstring ReadyWrapper(const std::wstring& script) { return kReadyPrefix + script + kReadySuffix; }

const std::wstring& WatermarkStyle() {
  static const std::wstring style = kWatermarkStyle;
  return style;
}

std::wstring EmbedPage(const std::wstring& productName, const std::wstring& contentUrl,
                       const std::wstring& watermarkText) {
  std::wostringstream page;
  page << L"<!DOCTYPE html><html><head>" << L"<meta charset='utf-8'>" << L"<title>" << productName << L"</title>"
       << L"<style>" << L"*{margin:0;padding:0;}" << L"html,body{width:100%;height:100%;overflow:hidden;}"
       << L"iframe{width:100%;height:100%;border:none;}"
       << L"</style></head><body>"
       // The address sits in a single-quoted attribute of a page that may
       // message the host: a quote in it must not end the attribute, and a
       // javascript: or data: address must not run in (or beside) it.
       << L"<iframe src='" << (IsWebAddress(contentUrl) ? EscapeForHtml(contentUrl) : L"about:blank")
       << L"' allowfullscreen "
       << L"allow='accelerometer;autoplay;clipboard-write;encrypted-media;gyroscope;picture-in-picture'>"
       << L"</iframe>" << L"<div style='" << WatermarkStyle() << L"'>" << EscapeForHtml(watermarkText) << L"</div>"
       << L"<script>" << L"window.chrome.webview.postMessage('pageLoaded');" << L"</script></body></html>";
  return page.str();
}

std::wstring EscapeForJs(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (const wchar_t c : text) {
    switch (c) {
      case L'\n':
        out += L"\\n";
        break;
      case L'\r':
        out += L"\\r";
        break;
      case L'"':
        out += L"\\\"";
        break;
      case L'\'':
        out += L"\\'";
        break;
      case L'\\':
        out += L"\\\\";
        break;
      case L'<':
        out += L"\\x3C";
        break;
      case L'>':
        out += L"\\x3E";
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}
