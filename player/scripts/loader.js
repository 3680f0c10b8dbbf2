(() => {
    if (window._quellaLoaderAdded) return;
    window._quellaLoaderAdded = true;
    function addLoader() {
        if (document.getElementById('quella-full-loader')) return;
        let loader = document.createElement('div');
        loader.id = 'quella-full-loader';
        loader.innerHTML = '<div style="width:60px;height:60px;border:6px solid rgba(255,255,255,0.2);border-top-color:#3498db;border-radius:50%;animation:quella-spin 1s linear infinite;margin-bottom:20px;"></div><div style="color:#fff;font-family:sans-serif;font-size:20px;text-align:center;">جاري التحميل... Loading...</div>' +
                           '<style>@keyframes quella-spin { to { transform: rotate(360deg); } }</style>';
        loader.style.cssText = 'position:fixed;top:0;left:0;width:100vw;height:100vh;background:#202020;z-index:2147483647;display:flex;flex-direction:column;justify-content:center;align-items:center;transition:opacity 0.5s ease-out;';
        if(document.body) document.body.appendChild(loader); else document.documentElement.appendChild(loader);
    }
    if(document.readyState==='loading'){ document.addEventListener('DOMContentLoaded', addLoader); } else { addLoader(); }
    window.addEventListener('load', () => {
        let l = document.getElementById('quella-full-loader');
        if(l) { l.style.opacity = '0'; setTimeout(()=>l.remove(), 500); }
    });
    setTimeout(() => { let l = document.getElementById('quella-full-loader'); if(l) { l.style.opacity = '0'; setTimeout(()=>l.remove(), 500); } }, 5000);
})();
