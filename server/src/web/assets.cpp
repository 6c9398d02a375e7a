// The pages' stylesheet and script, served from the binary so that nothing is fetched from
// elsewhere and the policy can forbid every inline script and style.
#include "pages.h"

namespace vyr::cld::server::web {

std::string_view stylesheet()
{
    return R"css(body { font-family: system-ui, sans-serif; margin: 0; color: #1d2329; background: #fafbfc; }
header { display: flex; gap: 1.5em; align-items: center; padding: 0.6em 1.5em; background: #24415e; color: #fff; }
header a { color: #fff; text-decoration: none; font-weight: 600; }
header form { margin-left: auto; }
main { padding: 1em 1.5em; max-width: 72em; }
h1 { font-size: 1.5em; overflow-wrap: anywhere; }
table { border-collapse: collapse; margin: 0.5em 0 1.5em; }
th, td { text-align: left; padding: 0.3em 0.8em; border-bottom: 1px solid #d6dbe0; vertical-align: top; }
td.sha256, .path { font-family: ui-monospace, monospace; font-size: 0.85em; overflow-wrap: anywhere; }
ul.tree, ul.tree ul { list-style: none; padding-left: 1.2em; }
li.file { padding: 0.15em 0; }
li.file span { margin-left: 0.8em; color: #56606b; }
#lock { padding: 0.6em 1em; background: #eef2f6; border-radius: 4px; margin: 1em 0; }
.error { color: #a11a1a; }
td.status { font-weight: 600; }
/* Details shared by every page: the short hash and its copy control, sizes, empty lists. */
code.hash { font-family: ui-monospace, monospace; font-size: 0.85em; }
button.copy { margin-left: 0.4em; font-size: 0.8em; }
.size[title] { text-decoration: underline dotted; }
p.empty { color: #56606b; font-style: italic; }
p.count { color: #56606b; }
ol.activity { list-style: none; padding: 0; }
ol.activity li { padding: 0.35em 0; border-bottom: 1px solid #d6dbe0; overflow-wrap: anywhere; }
ol.activity time, ol.activity .reason { color: #56606b; }
nav.pages { display: flex; gap: 1em; margin: 1em 0; }
li.file, td, .path { overflow-wrap: anywhere; }
/* A phone: every table becomes a list of cards, each cell labelled with its column's heading by
   the script, so that nothing (a Status, a Download) is off to the side. */
@media (max-width: 600px) {
  header { flex-wrap: wrap; gap: 0.4em 1em; padding: 0.6em 0.8em; }
  header form { margin-left: 0; }
  main { padding: 0.6em 0.8em; }
  table, thead, tbody, tr, th, td { display: block; }
  table { margin: 0.5em 0 1em; }
  thead tr { position: absolute; width: 1px; height: 1px; overflow: hidden; clip-path: inset(50%); white-space: nowrap; }
  tr { border: 1px solid #d6dbe0; border-radius: 4px; margin: 0 0 0.6em; padding: 0.4em 0.6em; background: #fff; }
  td { border: none; padding: 0.15em 0; }
  td[data-label]::before { content: attr(data-label) ": "; font-weight: 600; color: #56606b; }
  ul.tree, ul.tree ul { padding-left: 0.6em; }
  li.file span { display: inline-block; margin-left: 0.4em; }
  input[type="search"], input[type="password"] { max-width: 100%; box-sizing: border-box; }
}
#breadcrumbs ol { list-style: none; display: flex; flex-wrap: wrap; gap: 0.3em; padding: 0; margin: 0.5em 0; }
#breadcrumbs li + li::before { content: "/"; margin-right: 0.3em; color: #56606b; }
#breadcrumbs a { color: #1f4f80; }
#folder-filter { display: flex; flex-wrap: wrap; gap: 0.6em 1.2em; align-items: center; margin: 0.8em 0; }
#entries td, #locks td { overflow-wrap: anywhere; }
#entries th a { color: inherit; }
#entries tr.folder a { font-weight: 600; }
.lock-badge { display: inline-block; padding: 0.1em 0.5em; border-radius: 3px; background: #7a2e00; color: #fff; }
.lock-badge time { color: #fff; }
td.stale { color: #a11a1a; font-weight: 600; }
nav.paging { display: flex; gap: 1.5em; margin: 0.5em 0 1.5em; }
form.break { display: inline; }
#confirm-break { display: flex; flex-direction: column; gap: 0.5em; max-width: 32em; }
)css";
}

std::string_view script()
{
    return R"js('use strict';
// Rewrites the status cells of a project's viewer updates while any of them is still moving.
(function () {
  var table = document.getElementById('updates');
  if (!table || !table.dataset.poll) {
    return;
  }
  var finals = ['Success', 'Failed', 'Cancelled'];
  function moving() {
    return Array.prototype.some.call(table.querySelectorAll('td.status'), function (cell) {
      return finals.indexOf(cell.textContent) < 0;
    });
  }
  function poll() {
    if (!moving()) {
      return;
    }
    fetch(table.dataset.poll, {credentials: 'same-origin', headers: {'Accept': 'application/json'}})
      .then(function (response) {
        if (!response.ok) {
          throw new Error('status ' + response.status);
        }
        return response.json();
      })
      .then(function (updates) {
        updates.forEach(function (update) {
          Array.prototype.forEach.call(table.querySelectorAll('tr[data-update-id]'), function (row) {
            var cell = row.querySelector('td.status');
            if (row.dataset.updateId === update.id && cell && cell.textContent !== update.status) {
              cell.textContent = update.status;
            }
          });
        });
        setTimeout(poll, 1000);
      })
      .catch(function () {
        // Signed out, or the server went away: a reload shows why.
      });
  }
  setTimeout(poll, 1000);
})();

// Times in the reader's own zone and language (the exact UTC time stays in the title), and each
// table cell labelled with its column's heading, which the phone layout shows before it: done to
// the page when it loads and to any listing the folder filter puts in later.
function dress(root) {
  Array.prototype.forEach.call(root.querySelectorAll('time[datetime]'), function (element) {
    var when = new Date(element.getAttribute('datetime'));
    if (isNaN(when.getTime())) {
      return;
    }
    element.title = element.getAttribute('datetime');
    element.textContent = when.toLocaleString(undefined, {dateStyle: 'medium', timeStyle: 'short'});
  });
  Array.prototype.forEach.call(root.querySelectorAll('table'), function (table) {
    var headings = Array.prototype.map.call(table.querySelectorAll('thead th'), function (th) {
      return th.textContent;
    });
    Array.prototype.forEach.call(table.querySelectorAll('tbody tr'), function (row) {
      Array.prototype.forEach.call(row.children, function (cell, index) {
        if (headings[index] && !cell.hasAttribute('data-label')) {
          cell.setAttribute('data-label', headings[index]);
        }
      });
    });
  });
}
dress(document);

// A copy control puts its whole value (a SHA-256 shown shortened) on the clipboard; where the
// browser allows no clipboard, the whole value is shown to select instead.
(function () {
  document.addEventListener('click', function (event) {
    var button = event.target.closest ? event.target.closest('button.copy') : null;
    if (!button) {
      return;
    }
    var value = button.dataset.copy;
    var shown = document.getElementById(button.getAttribute('aria-controls'));
    function showWhole() {
      if (shown) {
        shown.textContent = value;
      }
    }
    if (navigator.clipboard && navigator.clipboard.writeText) {
      navigator.clipboard.writeText(value).then(function () {
        button.textContent = 'Copied';
        setTimeout(function () { button.textContent = 'Copy'; }, 2000);
      }, showWhole);
    } else {
      showWhole();
    }
  });
})();

// Filters a folder's entries as one types: asks the server for the page the form would, and
// replaces the listing with its own, leaving the address as a link to what is shown.
(function () {
  var form = document.getElementById('folder-filter');
  var listing = document.getElementById('listing');
  if (!form || !listing || !window.fetch || !window.URLSearchParams) {
    return;
  }
  var timer = null;
  var asked = 0;
  function address() {
    var params = new URLSearchParams();
    Array.prototype.forEach.call(form.elements, function (field) {
      if (!field.name || !field.value || (field.type === 'checkbox' && !field.checked)) {
        return;
      }
      params.append(field.name, field.value);
    });
    var query = params.toString();
    return form.getAttribute('action') + (query ? '?' + query : '');
  }
  function refresh() {
    var target = address();
    var mine = ++asked;
    fetch(target, {credentials: 'same-origin'})
      .then(function (response) {
        if (!response.ok) {
          throw new Error('status ' + response.status);
        }
        return response.text();
      })
      .then(function (text) {
        if (mine !== asked) {
          return; // a later filter's answer is on its way
        }
        var fresh = new DOMParser().parseFromString(text, 'text/html').getElementById('listing');
        if (fresh) {
          dress(fresh);
          listing.replaceWith(fresh);
          listing = fresh;
          history.replaceState(null, '', target);
        }
      })
      .catch(function () {
        // The form still works: submitting it shows what went wrong.
      });
  }
  function later() {
    clearTimeout(timer);
    timer = setTimeout(refresh, 150);
  }
  form.addEventListener('input', later);
  form.addEventListener('change', later);
})();
)js";
}

std::string_view icon()
{
    // A drawing sheet with a fold and two lines, in the header's blue; presentation attributes,
    // not style, so that the policy's style-src has nothing to allow.
    return R"svg(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 32 32"><rect width="32" height="32" rx="6" fill="#24415e"/><path d="M9 6h10l5 5v15H9z" fill="#fff"/><path d="M19 6v5h5" fill="#c9d6e3"/><path d="M12 16h9M12 20h9M12 24h6" stroke="#24415e" stroke-width="1.6"/></svg>
)svg";
}

} // namespace vyr::cld::server::web
