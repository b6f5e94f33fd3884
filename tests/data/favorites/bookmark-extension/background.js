// Writes the fixture's bookmarks through Chromium's own bookmark API, then
// says so in a bookmark the script waits for.
async function make() {
  const bar = "1", other = "2";
  await chrome.bookmarks.create({parentId: bar, title: "Tarnhold テスト", url: "http://www.shop.test/"});
  await chrome.bookmarks.create({parentId: bar, title: "News 😀 ニュース", url: "http://news.example.test/"});
  const shop = await chrome.bookmarks.create({parentId: bar, title: "買い物"});
  await chrome.bookmarks.create({parentId: shop.id, title: "FAQ", url: "http://www.shop.test/faq.html"});
  await chrome.bookmarks.create({parentId: shop.id, title: "セール 商品一覧",
      url: "http://www.shop.test/%E3%82%BB%E3%83%BC%E3%83%AB/%E5%95%86%E5%93%81%E4%B8%80%E8%A6%A7.html"});
  await chrome.bookmarks.create({parentId: shop.id, title: "Empty"});
  const deep = await chrome.bookmarks.create({parentId: shop.id, title: "深い"});
  await chrome.bookmarks.create({parentId: deep.id, title: "Basket", url: "https://checkout.shop.test/basket.html"});
  await chrome.bookmarks.create({parentId: other, title: "Example 한국어", url: "http://example.test/한국"});
}
chrome.runtime.onInstalled.addListener(() => { make(); });
