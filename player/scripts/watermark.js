(() => {
    if (window._quellaWatermarkAdded) return;
    window._quellaWatermarkAdded = true;
    function addWatermark() {
        if (document.getElementById('quella-watermark')) return;
        let wm = document.createElement('div');
        wm.id = 'quella-watermark';
        wm.textContent = '{{WATERMARK_TEXT}}';
        wm.style.cssText = 'position:fixed;top:0;left:0;width:100%;height:100%;pointer-events:none;z-index:2147483646;opacity:0.15;display:flex;align-items:center;justify-content:center;font-size:3vw;color:red;transform:rotate(-30deg);font-family:Arial,sans-serif;font-weight:bold;';
        if(document.body) document.body.appendChild(wm);
        else document.documentElement.appendChild(wm);
    }
    if (document.readyState === 'loading') {
        document.addEventListener('DOMContentLoaded', addWatermark);
    } else {
        addWatermark();
    }
    // Re-inject if removed
    let obs = new MutationObserver(() => {
        if (!document.getElementById('quella-watermark') && document.body) addWatermark();
    });
    obs.observe(document, { childList: true, subtree: true });
})();
