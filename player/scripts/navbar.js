(() => {
    if (window._quellaNavAdded) return;
    window._quellaNavAdded = true;

    function showLoader() {
        let loader = document.getElementById('quella-full-loader');
        if (loader) {
            loader.style.display = 'flex';
        } else {
            loader = document.createElement('div');
            loader.id = 'quella-full-loader';
            loader.innerHTML = '<div style="width:50px;height:50px;border:5px solid rgba(0,0,0,0.1);border-top-color:#3498db;border-radius:50%;animation:quella-spin 1s linear infinite;"></div>' +
                               '<style>@keyframes quella-spin { to { transform: rotate(360deg); } }</style>';
            loader.style.cssText = 'position:fixed;top:0;left:0;width:100vw;height:100vh;background:rgba(255,255,255,0.7);backdrop-filter:blur(3px);z-index:2147483647;display:flex;justify-content:center;align-items:center;';
            if (document.body) document.body.appendChild(loader); else document.documentElement.appendChild(loader);
        }
        if (window._quellaLoaderTimeout) clearTimeout(window._quellaLoaderTimeout);
        window._quellaLoaderTimeout = setTimeout(() => {
            let l = document.getElementById('quella-full-loader');
            if (l) l.style.display = 'none';
        }, 5000);
    }
    window.addEventListener('beforeunload', showLoader);

    function injectNav() {
        if (document.getElementById('quella-nav-container')) return;
        let savedX = '20', savedY = '20';
        try {
            savedX = localStorage.getItem('qu_nx') || '20';
            savedY = localStorage.getItem('qu_ny') || '20';
        } catch (e) {}

        const container = document.createElement('div');
        container.id = 'quella-nav-container';
        container.style.position = 'fixed';
        container.style.left = savedX + 'px';
        container.style.top = savedY + 'px';
        container.style.zIndex = '2147483646';
        container.style.display = 'flex';
        container.style.gap = '10px';
        container.style.padding = '8px';
        container.style.background = 'rgba(0, 0, 0, 0.4)';
        container.style.backdropFilter = 'blur(10px)';
        container.style.borderRadius = '12px';
        container.style.transition = 'all 0.3s ease';
        container.style.opacity = '0.4';
        container.style.alignItems = 'center';
        container.style.boxShadow = '0 4px 6px rgba(0,0,0,0.1)';

        const handle = document.createElement('div');
        handle.innerHTML = '<svg xmlns="http://www.w3.org/2000/svg" width="20" height="20" viewBox="0 0 24 24" fill="white">' +
                           '<circle cx="9" cy="5" r="2"/><circle cx="15" cy="5" r="2"/>' +
                           '<circle cx="9" cy="12" r="2"/><circle cx="15" cy="12" r="2"/>' +
                           '<circle cx="9" cy="19" r="2"/><circle cx="15" cy="19" r="2"/></svg>';
        handle.style.cursor = 'grab';
        handle.style.opacity = '0.7';
        handle.style.display = 'flex';
        container.appendChild(handle);

        let isDragging = false, hasMoved = false;
        let startX = 0, startY = 0, startLeft = 0, startTop = 0;
        container.addEventListener('mousedown', (e) => {
            isDragging = true;
            hasMoved = false;
            startX = e.clientX;
            startY = e.clientY;
            startLeft = container.offsetLeft;
            startTop = container.offsetTop;
            handle.style.cursor = 'grabbing';
        });
        window.addEventListener('mousemove', (e) => {
            if (!isDragging) return;
            const dx = e.clientX - startX;
            const dy = e.clientY - startY;
            if (Math.abs(dx) > 3 || Math.abs(dy) > 3) hasMoved = true;
            container.style.left = (startLeft + dx) + 'px';
            container.style.top = (startTop + dy) + 'px';
        });
        // Where the bar was dropped, not where its transition has got to yet.
        window.addEventListener('mouseup', () => {
            if (!isDragging) return;
            isDragging = false;
            handle.style.cursor = 'grab';
            if (hasMoved) {
                try {
                    localStorage.setItem('qu_nx', parseInt(container.style.left, 10));
                    localStorage.setItem('qu_ny', parseInt(container.style.top, 10));
                } catch (e) {}
            }
        });

        function createBtn(icon, text, msg, noLoader) {
            const b = document.createElement('button');
            b.style.background = 'rgba(255, 255, 255, 0.9)';
            b.style.border = 'none';
            b.style.padding = '8px';
            b.style.borderRadius = '8px';
            b.style.fontWeight = 'bold';
            b.style.cursor = 'pointer';
            b.style.fontFamily = 'sans-serif';
            b.style.color = '#333';
            b.style.display = 'flex';
            b.style.alignItems = 'center';
            b.style.transition = 'all 0.3s ease';
            b.innerHTML = '<span>' + icon + '</span><span class="nav-text" style="max-width:0px;opacity:0;overflow:hidden;white-space:nowrap;transition:all 0.3s ease;margin-left:0px;">' + text + '</span>';
            b.addEventListener('click', (e) => {
                if (hasMoved) {
                    e.preventDefault();
                    e.stopPropagation();
                    return;
                }
                if (!noLoader) showLoader();
                window.chrome.webview.postMessage(msg);
            });
            return b;
        }

        const buttons = [
            createBtn('🏠', 'Home', 'btn_home', false),
            createBtn('←', 'Back', 'btn_back', false),
            createBtn('⛶', 'Fullscreen', 'btn_fullscreen', true)
        ];
        buttons.forEach((b) => container.appendChild(b));

        // Hovered, the bar comes forward and its labels open; left, it fades back.
        function showLabels(open) {
            container.style.opacity = open ? '1' : '0.4';
            container.style.transform = open ? 'scale(1.05)' : 'scale(1)';
            buttons.forEach((b) => {
                b.style.padding = open ? '8px 16px' : '8px';
                const t = b.querySelector('.nav-text');
                t.style.maxWidth = open ? '50px' : '0px';
                t.style.opacity = open ? '1' : '0';
                t.style.marginLeft = open ? '4px' : '0px';
            });
        }
        container.addEventListener('mouseenter', () => showLabels(true));
        container.addEventListener('mouseleave', () => showLabels(false));

        if (document.body) document.body.appendChild(container); else document.documentElement.appendChild(container);
    }

    if (document.readyState === 'loading') {
        document.addEventListener('DOMContentLoaded', injectNav);
    } else {
        injectNav();
    }
    // Pages that re-render their whole body (single-page apps) drop the bar.
    const observer = new MutationObserver(() => {
        if (!document.getElementById('quella-nav-container') && document.body) injectNav();
    });
    observer.observe(document, { childList: true, subtree: true });
})();
